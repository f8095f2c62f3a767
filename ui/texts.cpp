// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "ui/texts.h"

quint8 LangureFlag = 0;

// The four leading spaces belong to the Chinese status messages: they set the
// message off from the label's left edge, where the English ones need no
// room. Tests compare the texts byte for byte, so don't trim them.
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
    {"语言选择无法保存：程序所在的文件夹 %1 不可写，而 HOME 没有设为绝对路径，没有个人配置文件夹可用。\n"
     "请把 HOME 设为您的主文件夹（或把 XDG_CONFIG_HOME 设为绝对路径），或让 %1 可写。",
     "The language choice can't be kept: the program's folder %1 can't be written, and HOME is not set to an "
     "absolute path, so there is no per-user settings folder.\n"
     "Set HOME to your home folder (or XDG_CONFIG_HOME to an absolute path), or make %1 writable."},
    {"语言选择无法保存：个人配置文件夹 %1 无法创建（%2），程序所在的文件夹 %3 也不可写。\n"
     "请让 %1 成为可写的文件夹（或把 XDG_CONFIG_HOME 指向一个可写的文件夹），或让 %3 可写。",
     "The language choice can't be kept: the per-user settings folder %1 can't be made (%2), and the program's "
     "folder %3 can't be written.\n"
     "Make %1 a writable folder (or point XDG_CONFIG_HOME at one), or make %3 writable."},
    {"语言选择无法保存到 %1：%2。\n请删除它，或把它换成普通文件。",
     "The language choice can't be kept in %1: %2.\nRemove it, or replace it with a regular file."},
    {"语言选择没有保存到 %1（%2）。\n请让该文件及其所在的文件夹可写，然后重新选择语言。",
     "The language choice could not be saved to %1 (%2).\n"
     "Make the file and its folder writable, then choose the language again."},
};

const TextPair kFileTexts[kFileTextCount] = {
    {"保存参数到文件…", "Save parameters to file…"},
    {"从文件加载参数…", "Load parameters from file…"},
    {"记录实时数据到 CSV…", "Log live data to CSV…"},
    {"停止记录", "Stop logging"},
    {"保存参数到文件", "Save parameters to file"},
    {"从文件加载参数", "Load parameters from file"},
    {"记录实时数据到 CSV", "Log live data to CSV"},
    {"参数文件 (*.json)", "Parameter files (*.json)"},
    {"CSV 文件 (*.csv)", "CSV files (*.csv)"},
    {"参数已保存到 %1", "Parameters saved to %1"},
    {"正在记录实时数据到 %1", "Logging live data to %1"},
    {"实时数据已记录到 %1（%2 行）", "Live data logged to %1 (%2 rows)"},
    {"参数没有保存到 %1：%2。\n请选择其他文件或文件夹再试。",
     "The parameters were not saved to %1: %2.\nChoose another file or folder and try again."},
    {"无法读取 %1：%2。\n没有向控制器发送任何数据。",
     "%1 could not be read: %2.\nNothing was sent to the controller."},
    {"%1 不是可加载的参数文件：%2。\n没有向控制器发送任何数据。",
     "%1 is not a parameter file that can be loaded: %2.\nNothing was sent to the controller."},
    {"控制器中的参数与 %1 相同，没有写入任何数据。",
     "The controller already holds the parameters in %1; nothing was written."},
    {"%1 与控制器中的参数有 %2 个字节不同（控制器 → 文件）：\n\n%3\n\n把文件中的参数写入控制器吗？",
     "%1 differs from the controller in %2 byte(s) (controller → file):\n\n%3\n\n"
     "Write the file's parameters to the controller?"},
    {"参数第 %1 位", "Slot %1"},
    {"控制器已写入 %1 中的参数，断电前有效。\n要永久保存吗？",
     "The controller now holds the parameters of %1 until it is switched off.\nStore them permanently?"},
    {"%1 中的参数已写入控制器并永久保存。", "The parameters of %1 are written to the controller and stored permanently."},
    {"%1 中的参数已写入控制器，断电前有效。要永久保存，请按“参数烧写”。",
     "The parameters of %1 are written to the controller, which keeps them until it is switched off. "
     "Press Save Param to store them."},
    {"%1 中的参数已写入控制器，但控制器没能永久保存，断电前有效。请按“参数烧写”再试。",
     "The parameters of %1 are written to the controller, but it could not store them permanently; it keeps them "
     "until it is switched off. Press Save Param to try again."},
    {"端口在写入 %1 中的参数之前已关闭，控制器中的参数没有改变。",
     "The port was closed before anything of %1 was written; the controller's parameters are unchanged."},
    {"写入 %1 中的参数时端口被关闭，控制器可能只有其中一部分。请重新连接并再次加载该文件。",
     "The port was closed while the parameters of %1 were being written; the controller may hold part of them. "
     "Connect and load the file again."},
    {"%1 中的参数已写入控制器，但在永久保存之前端口被关闭，断电前有效。请重新连接并按“参数烧写”。",
     "The parameters of %1 are written to the controller, but the port was closed before they were stored; it keeps "
     "them until it is switched off. Connect and press Save Param."},
    {"%1 中的参数已写入控制器；永久保存时端口被关闭，不知道是否已保存。请重新连接并按“参数烧写”。",
     "The parameters of %1 are written to the controller; the port was closed while they were being stored, so "
     "whether they are stored is not known. Connect and press Save Param."},
    {"参数已按控制器中的原样保存到 %1：%2不在 1～18 之内。“从文件加载参数”会拒绝此文件；"
     "要按原样恢复，请使用 sbus-channel-cli restore --force。",
     "Parameters saved to %1, as the controller holds them: outside 1..18 for %2. Load parameters will refuse this "
     "file; to restore it as it is, use sbus-channel-cli restore --force."},
    {"实时数据无法写入 %1：%2。\n记录已停止。", "Live data could not be written to %1: %2.\nLogging has stopped."},
    {"记录期间日志文件 %1 被删除或替换，已记录的实时数据已丢失。\n记录已停止。",
     "The log file %1 was deleted or replaced while live data was being logged; the rows logged are lost.\n"
     "Logging has stopped."},
    {"是", "Yes"},
    {"否", "No"},
    {"确定", "OK"},
    {"保存", "Save"},
    {"打开", "Open"},
    {"取消", "Cancel"},
    {"查找范围：", "Look in:"},
    {"文件名：", "File name:"},
    {"文件类型：", "Files of type:"},
    {"上传通道时端口被关闭（控制器确认了 3 部分中的 %1 部分）：控制器中可能一部分是新参数、一部分是旧参数，没有永久保存任何参数。"
     "控制器断电重启后恢复已保存的参数；请重新连接并再次上传。",
     "The port was closed while the channels were being uploaded (the controller confirmed %1 of the 3 parts): it may "
     "hold part of the new parameters and part of the old, and nothing was stored permanently. Switching it off and "
     "on brings back the stored ones; connect and upload again."},
    {"控制器恢复应答后，它的参数既不是原来的也不是正在写入的（换了一个控制器？）。没有再写入任何数据；通道选择框显示的是它现在的参数。",
     "When the controller answered again, it held parameters that are neither its old ones nor the ones being "
     "written (is it another controller?). Nothing more was written; the channel selectors show what it holds now."},
    {"正在等待控制器完成写入，完成后关闭窗口…", "Closing once the controller has finished the write under way…"},
    {"控制器中%1的值不在 1～18 之内，通道选择框显示为空。上传时按原值写回，除非您为它选择一个通道。",
     "The controller holds a channel outside 1..18 for %1; its selector shows none. Upload writes it back as it is "
     "unless you choose a channel for it."},
    {"所选串口 %1 已不在（适配器已拔出？）。它回来后会自动重新选中；也可以改选其他串口。",
     "The chosen port %1 is gone (adapter unplugged?). It is chosen again when it comes back; or choose another "
     "port."},
    {"未选择串口：请先选择一个串口，再点“开始调试”。", "No serial port chosen: choose one, then press Connect."},
    {"撤销上次写入…", "Undo the last write…"},
    {"没有记录通过此适配器的写入，无可撤销。没有向控制器发送任何数据。",
     "No write through this adapter is remembered, so there is nothing to undo. Nothing was sent to the controller."},
    {"%1 写入之前的参数块", "the block from before the write of %1"},
    {"控制器中有本次连接写入但尚未永久保存（烧写）的参数，断电后会丢失。\n关闭窗口前要烧写吗？",
     "The controller holds parameters written in this session that are not stored; they are lost when it is "
     "switched off.\nStore them before closing?"},
    {"控制器中有本次连接写入但尚未永久保存（烧写）的参数，断电后会丢失。\n断开连接前要烧写吗？",
     "The controller holds parameters written in this session that are not stored; they are lost when it is "
     "switched off.\nStore them before disconnecting?"},
    {"烧写并关闭", "Store and close"},
    {"不烧写，直接关闭", "Close without storing"},
    {"烧写并断开", "Store and disconnect"},
    {"不烧写，直接断开", "Disconnect without storing"},
    {"%1，这很可能是误操作。\n仍然写入控制器吗？", "%1, which is very likely a mistake.\nWrite to the controller anyway?"},
    {"撤销上次写入", "Undo the last write"},
    {"控制器与%1有 %2 个字节不同（控制器 → 写入之前）：\n\n%3\n\n把%1写回控制器吗？",
     "The controller differs from %1 in %2 byte(s) (controller → before):\n\n%3\n\nWrite %1 back to the "
     "controller?"},
    {"适配器重新接入时自动连接", "Reconnect when the adapter returns"},
    {"适配器 %1 已断开，正在等待它重新接入；接入并稳定 %2 秒后自动重新连接并读取参数。",
     "Adapter %1 went away; waiting for it to return. Once it has been back for %2 s, the window connects again "
     "and reads the parameters."},
};
