#pragma once

#include <array>
#include <cstdint>

// The five gimbal functions, in the order the window lists them and the
// position and test-data arrays hold them.
enum Function : int { Tilt = 0, Heading, Mode, Video, Zoom };
constexpr int kFunctionCount = 5;
constexpr int kParamSlots = 18;

// Slot of paramBlock that holds each function's SBUS channel number. The other
// 13 slots belong to the controller and are carried through unchanged.
constexpr std::array<int, kFunctionCount> kFunctionSlot = {9, 13, 4, 10, 12};

// The link data the window shows and the command the next tick sends.
// Plain data and rules only: no Qt, no widgets, no clock.
class ParamExchange
{
public:
    ParamExchange() { reset(); }

    // Back to "nothing known": the next contact starts with a download and the
    // link counts as lost until a good reply arrives.
    void reset();

    // The operator's five selections (tilt, heading, mode, video, zoom) go into
    // their slots; the write sequence starts on the next tick.
    void requestUpload(const std::array<std::uint8_t, kFunctionCount> &channels);
    void requestDownload();
    void requestSave();

    std::array<std::uint8_t, kParamSlots> paramBlock{};
    std::array<std::int8_t, kFunctionCount> channelPos{};
    std::uint8_t commandCode = 0;
    std::array<std::uint8_t, kFunctionCount> testData{};
    std::uint8_t saveRequest = 0;
    std::uint8_t silenceCount = 0;
    std::uint8_t gimbalState = 0;
    std::uint8_t downloadDone = 0;
    std::uint8_t statusIndex = 0;
};
