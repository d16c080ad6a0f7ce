#pragma once
// The device's three vendor SCSI commands: write data, read data, identify. Each call sends one
// request with no retry and no delay; pacing belongs to the upgrade protocol.

#include <array>
#include <cstdint>

#include "services/DriveHandle.h"
#include "device/PassThrough.h"

inline constexpr std::uint8_t kOpVendorRead = 0x85;
inline constexpr std::uint8_t kOpVendorWrite = 0x86;
inline constexpr std::uint8_t kOpVendorIdentify = 0x87;

// 10-byte CDB: opcode, 0, big-endian length in bytes 2-5, 0, 2, 0, 0.
std::array<std::uint8_t, kCdbLength> BuildVendorCdb(std::uint8_t opcode, std::uint32_t length);

// What the OS said goes to *result when given, so that a failure can name its cause.
bool VendorWrite(DriveHandle handle, std::uint32_t length, const std::uint8_t* buffer,
                 PassThroughResult* result = nullptr);
bool VendorRead(DriveHandle handle, std::uint32_t length, std::uint8_t* buffer,
                PassThroughResult* result = nullptr);
// True only for the answer AA 55.
bool VendorIdentify(DriveHandle handle);
void CloseDevice(DriveHandle handle);

// How a drive answered identify, for diagnostics.
enum class IdentifyAnswer { Device, OtherAnswer, RequestFailed };
IdentifyAnswer ProbeIdentify(DriveHandle handle, std::array<std::uint8_t, 2>* reply,
                             PassThroughResult* result);
