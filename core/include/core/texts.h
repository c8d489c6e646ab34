// The system's own texts, as GBK bytes. The window converts them for display; the core and
// its tests compare them byte for byte.
#pragma once

namespace dielmon::texts {

inline constexpr const char* kCaption = "抗干扰精密介质损耗测量仪2.0版";
inline constexpr const char* kPrompt = "提示"; // caption of every message box
inline constexpr const char* kIdleText = "抗 干 扰 精 密\r\n\r\n介 质 损 耗 测 量 仪";

inline constexpr const char* kStopTestFirst = "请先停止测试！";
inline constexpr const char* kOpenPortFailed = "打开串口失败，请配置串口!!";
inline constexpr const char* kPortError = "串口错误！";
inline constexpr const char* kPowerShuttingDown = "电源关闭中，请稍候！";
inline constexpr const char* kClearingHistory = "正在清空历史数据，请稍候！";
inline constexpr const char* kHistoryCleared = "历史数据已清空！";
inline constexpr const char* kDataSaved = "数据已保存！";
inline constexpr const char* kDataPrinted = "数据已打印！";
inline constexpr const char* kSaving = "正在保存，请稍候！";
inline constexpr const char* kPrinting = "正在打印，请稍候！";
inline constexpr const char* kSaveSucceeded = "保存成功！";
inline constexpr const char* kConfirmClearHistory = "您是否真的要清空所有历史数据？";
inline constexpr const char* kReadingData = "正在读取数据，请稍候！";
inline constexpr const char* kDeletingData = "正在删除数据，请稍候！";
inline constexpr const char* kBoostingWait = "电源升压中请稍候！";
inline constexpr const char* kNotOurFile = "不是本软件保存的历史文件";
inline constexpr const char* kOpenFileTitle = "请选择历史文件";
inline constexpr const char* kVoltRange12000 = "只能输入100-12000的数字";
inline constexpr const char* kVoltRange10000 = "只能输入100-10000的数字";
inline constexpr const char* kVoltUpRange = "只能输入100-4000的数字";
inline constexpr const char* kNotValidInteger = "'%s' is not a valid integer value";
inline constexpr const char* kListIndexOutOfBounds = "List index out of bounds (%d)";
inline constexpr const char* kUnableToWrite = "Unable to write to %s";

inline constexpr const char* kFileHeading = "     介质损耗测试数据";
inline constexpr const char* kFileSeparator = "=============================";
inline constexpr const char* kReportHeading = "介质损耗测试报告";
inline constexpr const char* kReportRule = "--------------------------------";

inline constexpr const char* kFixedFrequency = "定频";
inline constexpr const char* kVariableFrequency = "异频";
inline constexpr const char* kInternalStandard = "内标准";
inline constexpr const char* kExternalStandard = "外标准";
inline constexpr const char* kInternalHighVoltage = "内高压";
inline constexpr const char* kExternalHighVoltage = "外高压";
inline constexpr const char* kAutoDetect = "自动检测";

} // namespace dielmon::texts
