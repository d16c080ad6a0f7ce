#include "device/VendorCommands.h"

#include <chrono>

#include "device/DeviceTrace.h"
#include "device/DriveLock.h"

namespace {

constexpr std::uint8_t kCdbByte7 = 2;  // the device firmware expects 2 here on every command

PassThroughRequest MakeRequest(std::uint8_t opcode, DataDirection direction, std::uint32_t length,
                               std::uint8_t* buffer) {
    PassThroughRequest request;
    request.cdb = BuildVendorCdb(opcode, length);
    request.direction = direction;
    request.length = length;
    request.buffer = buffer;
    return request;
}

// Every vendor request goes out here, so a trace sees each one with what the OS said.
bool Send(DriveHandle handle, const PassThroughRequest& request,
          PassThroughResult* result = nullptr) {
    DeviceTrace* trace = CurrentDeviceTrace();
    if (trace == nullptr) return SendPassThrough(handle, request, result);
    PassThroughResult local;
    PassThroughResult& out = result != nullptr ? *result : local;
    const auto begin = std::chrono::steady_clock::now();
    const bool sent = SendPassThrough(handle, request, &out);
    trace->OnRequest(request, out, std::chrono::steady_clock::now() - begin);
    return sent;
}

}  // namespace

std::array<std::uint8_t, kCdbLength> BuildVendorCdb(std::uint8_t opcode, std::uint32_t length) {
    return {opcode,
            0,
            static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length),
            0,
            kCdbByte7,
            0,
            0};
}

bool VendorWrite(DriveHandle handle, std::uint32_t length, const std::uint8_t* buffer,
                 PassThroughResult* result) {
    // The pass-through takes a mutable buffer for both directions; a write never changes it.
    auto request = MakeRequest(kOpVendorWrite, DataDirection::ToDevice, length,
                               const_cast<std::uint8_t*>(buffer));
    return Send(handle, request, result);
}

bool VendorRead(DriveHandle handle, std::uint32_t length, std::uint8_t* buffer,
                PassThroughResult* result) {
    return Send(handle, MakeRequest(kOpVendorRead, DataDirection::FromDevice, length, buffer),
                result);
}

IdentifyAnswer ProbeIdentify(DriveHandle handle, std::array<std::uint8_t, 2>* reply,
                             PassThroughResult* result) {
    // Start from zeros so a request that fails without filling the buffer never reads as AA 55.
    std::array<std::uint8_t, 2> answer{};
    const bool sent =
        Send(handle, MakeRequest(kOpVendorIdentify, DataDirection::FromDevice, 2, answer.data()),
             result);
    if (reply != nullptr) *reply = answer;
    if (!sent) return IdentifyAnswer::RequestFailed;
    return answer[0] == 0xAA && answer[1] == 0x55 ? IdentifyAnswer::Device
                                                  : IdentifyAnswer::OtherAnswer;
}

bool VendorIdentify(DriveHandle handle) {
    return ProbeIdentify(handle, nullptr, nullptr) == IdentifyAnswer::Device;
}

void CloseDevice(DriveHandle handle) {
    if (handle == kInvalidDrive) return;
    UnlockDrive(handle);
    CloseDriveHandle(handle);
}
