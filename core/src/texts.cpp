#include "core/texts.h"

namespace dielmon::texts {

const char* const kCaption = "抗干扰精密介质损耗测量仪2.0版";
const char* const kPrompt = "提示";
const char* const kIdleText = "抗 干 扰 精 密\r\n\r\n介 质 损 耗 测 量 仪";
const char* const kStopTestFirst = "请先停止测试！";
const char* const kOpenPortFailed = "打开串口失败，请配置串口!!";
const char* const kPortError = "串口错误！";
const char* const kInitialHistoryCount = "可用数据100条，已用9条";
const char* const kPortRestored = "串口已恢复！";
const char* const kStopNotSent =
    "串口错误，停止测试命令未能发出！\r\n请检查串口连接后再按“停止测试”。";
const char* const kPowerShuttingDown = "电源关闭中，请稍候！";
const char* const kClearingHistory = "正在清空历史数据，请稍候！";
const char* const kHistoryCleared = "历史数据已清空！";
const char* const kDataSaved = "数据已保存！";
const char* const kDataPrinted = "数据已打印！";
const char* const kSaving = "正在保存，请稍候！";
const char* const kPrinting = "正在打印，请稍候！";
const char* const kSaveSucceeded = "保存成功！";
const char* const kConfirmClearHistory = "您是否真的要清空所有历史数据？";
const char* const kReadingData = "正在读取数据，请稍候！";
const char* const kDeletingData = "正在删除数据，请稍候！";
const char* const kBoostingWait = "电源升压中请稍候！";
const char* const kNotOurFile = "不是本软件保存的历史文件";
const char* const kOpenFileTitle = "请选择历史文件";
const char* const kVoltRange12000 = "只能输入100-12000的数字";
const char* const kVoltRange10000 = "只能输入100-10000的数字";
const char* const kVoltUpRange = "只能输入100-4000的数字";
const char* const kNotValidInteger = "'%s' is not a valid integer value";
const char* const kListIndexOutOfBounds = "List index out of bounds (%d)";
const char* const kUnableToWrite = "Unable to write to %s";
const char* const kConnectFirst = "请先连接仪器！";
const char* const kDownloadBusy = "正在下载仪器中的记录，请稍候！";
const char* const kDownloadNoReply = "仪器没有应答，下载中止！";
const char* const kDownloadError = "仪器报告错误，下载中止！";
const char* const kFileHeading = "     介质损耗测试数据";
const char* const kFileSeparator = "=============================";
const char* const kReportHeading = "介质损耗测试报告";
const char* const kReportRule = "--------------------------------";
const char* const kFixedFrequency = "定频";
const char* const kVariableFrequency = "异频";
const char* const kInternalStandard = "内标准";
const char* const kExternalStandard = "外标准";
const char* const kInternalHighVoltage = "内高压";
const char* const kExternalHighVoltage = "外高压";
const char* const kAutoDetect = "自动检测";
const char* const kWiringCvt = "CVT自激法";

} // namespace dielmon::texts
