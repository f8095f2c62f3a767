// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "ui/texts.h"

quint8 LangureFlag = 0;

// The Chinese status messages carry four leading spaces so that they sit
// indented in the status label; the operator has always seen them that way.
const char *const kChineseTexts[kTextCount] = {
    "开始调试",
    "停止调试",
    "参数上传",
    "参数下载",
    "参数烧写",
    "云台俯仰通道：",
    "云台指向通道：",
    "云台模式通道：",
    "相机录像通道：",
    "相机变焦通道：",
    "测试数据",
    "俯仰数据",
    "指向数据",
    "模式数据",
    "录像数据",
    "变焦数据",
    "连接状态",
    "中文",
    "English",
    "端口连接断开",
    "云台连接成功",
    "云台连接断开",
    "    正在上传参数",
    "    参数上传完成",
    "    正在下载参数",
    "    参数下载完成",
    "    参数烧写成功",
    "    参数烧写失败",
    " ",
};

// Spelled as the controller's users know them, odd spacing and typos included.
const char *const kEnglishTexts[kTextCount] = {
    "Connect",
    "Disconnect",
    "Upload Param",
    "Download Param",
    "Save Param",
    "Tilt Channel:",
    "Pan  Channel:",
    "Mode Channel:",
    "Rec  Channel:",
    "Zoom Channel:",
    "Test Data",
    "Tilt Data",
    "Pan  Data",
    "Mode Data",
    "Rec  Data",
    "Zoom Data",
    "Status",
    "中文",
    "EN",
    "Port Disonnection",
    "Gmbal Connect",
    "Gmbal Disconnect",
    "Uploading Param",
    "Upload Param Success",
    "Downloading Param",
    "Download Param Success",
    "Save Param Success",
    "Save Param Fail",
    " ",
};

const TextPair kAssistTexts[kAssistTextCount] = {
    {"串口", "Serial port"},
    {"云台俯仰位置", "Tilt position"},
    {"云台指向位置", "Pan position"},
    {"云台模式位置", "Mode position"},
    {"相机录像位置", "Rec position"},
    {"相机变焦位置", "Zoom position"},
    {"设备", "Device"},
    {"描述", "Description"},
    {"制造商", "Manufacturer"},
    {"序列号", "Serial number"},
    {"USB 厂商:产品", "USB vendor:product"},
    {"固定名称", "Stable name"},
};
