#pragma once
// The device and fault options of kestrel-vdev, shared by its front doors (umockdev, TCMU) so
// that every door configures the same DeviceModel the same way.

#include <CLI/CLI.hpp>
#include <string>

#include "vdev/DeviceModel.h"

struct VdevDeviceOptions {
    DeviceConfig config;
    FaultScript faults;

    // Adds --family, --chip-id, --boot, --fw-version, --empty-version, --header, --zero-header,
    // --not-device and the fault options to app.
    void AddTo(CLI::App& app);
    // Turns the parsed text options into config; throws CLI::ValidationError. Call after parse.
    void Finish();

private:
    std::string m_chipId;
    std::string m_header;
    unsigned m_boot = 1;
    bool m_emptyVersion = false;
    bool m_zeroHeader = false;
    bool m_notDevice = false;
};
