#include "link/paramexchange.h"

#include "link/frame.h"

void ParamExchange::reset()
{
    paramBlock.fill(0);
    channelPos.fill(0);
    testData.fill(0);
    saveRequest = 0;
    downloadDone = 0;
    statusIndex = 0;
    commandCode = READ_PARAM_1;
    // 1 = gimbal not connected; 20 is above the loss threshold, so the link
    // reads as down until the controller proves otherwise.
    gimbalState = 1;
    silenceCount = 20;
}

void ParamExchange::requestUpload(const std::array<std::uint8_t, kFunctionCount> &channels)
{
    for (int f = 0; f < kFunctionCount; ++f)
        paramBlock[kFunctionSlot[f]] = channels[f];
    commandCode = WRITE_PARAM_1;
}

void ParamExchange::requestDownload()
{
    commandCode = READ_PARAM_1;
}

void ParamExchange::requestSave()
{
    saveRequest = kSaveRequested;
}
