#include "common/errtext.h"

#include <QStringList>

#include <cerrno>
#include <cstring>

#include "common/text.h"

namespace vemlo {

std::string reasonText(int err)
{
    switch (err) {
    case 0: return "成功";
    case EEXIST:
    case ENOTEMPTY: return "目标已存在";  // a move onto a folder that holds entries
    case EACCES: return "权限不足";
    // Permissions would not help: the entry belongs to someone else (sticky
    // folder, changing the mode) or carries the immutable or append-only flag.
    case EPERM: return "操作不被允许（不是所有者，或已设为不可更改）";
    case EROFS: return "文件系统为只读";
    case ENOENT: return "文件不存在";
    case ENOTDIR: return "不是文件夹";
    case EISDIR: return "目标是文件夹";
    case ENAMETOOLONG: return "名称过长";
    case ELOOP: return "符号链接层数过多（可能是循环链接）";
    case EXDEV: return "不能跨文件系统移动";
    case EBUSY: return "正在使用中或是挂载点";
    case ETXTBSY: return "程序文件正在运行";
    case ENOSPC: return "磁盘空间不足";
    case EDQUOT: return "超出磁盘配额";
    case EFBIG: return "文件过大";
    case EMLINK: return "子文件夹或链接数已达上限";
    case EIO: return "读写设备出错";
    case EINVAL: return "无效的名称或操作";
    case ENOTSUP: return "文件系统不支持此操作";
    case ENOSYS: return "系统不支持此操作";
    case ENOMEM: return "内存不足";
    case EMFILE:
    case ENFILE: return "打开的文件过多";
    case ESTALE: return "网络文件已失效，请重新导入文件夹";
    case ENOTCONN: return "文件系统已断开连接";
    case ETIMEDOUT: return "连接超时";
    case EINTR: return "操作被中断";
    case EAGAIN: return "资源暂时不可用，请重试";
    default: {
        char buf[256];
        const char* text = strerror_r(err, buf, sizeof buf);
        return "系统错误：" + (text ? std::string(text) : std::to_string(err));
    }
    }
}

std::string attribFailureText(int err)
{
    switch (err) {
    case ELOOP: return "符号链接，属性不更改";
    case ENOTSUP: return "此处不能保存隐藏、系统、存档或文件夹的只读属性";
    default: return reasonText(err);
    }
}

std::string folderErrorText(int err)
{
    switch (err) {
    case ENOENT:
        return "File not found";
    case ENOTDIR:
    case ENAMETOOLONG:
        return "Invalid filename";
    case EACCES:
    case EPERM:
        return "File access denied";
    default:
        return "I/O error " + std::to_string(err);
    }
}

QString listingGapsText(const QString& folder, const fs::ListingGaps& gaps)
{
    auto reason = [](int err) { return QString::fromStdString(reasonText(err)); };
    QStringList lines;
    if (const size_t n = gaps.unreadableCount()) {
        QString why;
        if (gaps.unreadable.size() == 1) {
            why = reason(gaps.unreadable.front().first);
        } else {
            QStringList parts;
            for (const auto& [err, count] : gaps.unreadable)
                parts << QStringLiteral("%1 %2 个").arg(reason(err), QString::number(count));
            why = parts.join(QStringLiteral("，"));
        }
        lines << QStringLiteral("文件夹“%1”中有 %2 个条目无法读取，未列出：%3")
                     .arg(folder, QString::number(n), why);
    }
    if (gaps.readError)
        lines << QStringLiteral("读取文件夹“%1”时出错，列表不完整：%2")
                     .arg(folder, reason(gaps.readError));
    return lines.join(u'\n');
}

std::string sheetFaultText(const sheet::Fault& f)
{
    using Kind = sheet::Fault::Kind;
    auto num = [](auto n) { return std::to_string(n); };
    const std::string cell = "单元格 (" + num(f.row) + ", " + num(f.column) + ")";
    const std::string member = "成员“" + f.name + "”";
    switch (f.kind) {
    case Kind::None: return {};
    case Kind::CellOutside: return cell + " 超出工作表范围";
    case Kind::RangeAcrossSheets: return "区域的两个单元格不在同一工作表中";
    case Kind::ChartType: return "不支持的图表类型 " + num(f.number);
    case Kind::PlotBy: return "不支持的数据系列方式 " + num(f.number);
    case Kind::SourceElsewhere: return "图表的数据源不在本工作簿中";
    case Kind::SourceEmpty: return "图表的数据源为空";
    case Kind::ChartLocation: return "不支持的图表位置 " + num(f.number);
    case Kind::NoSuchSheet: return "找不到工作表“" + f.name + "”";
    case Kind::NoWorksheet: return "没有第 " + num(f.number) + " 个工作表";
    case Kind::NoChart: return "没有第 " + num(f.number) + " 个图表";
    case Kind::NoWorkbook: return "没有第 " + num(f.number) + " 个工作簿";
    case Kind::NoOpenWorkbook: return "没有打开的工作簿";
    case Kind::NoActiveChart: return "没有活动的图表";
    case Kind::TooManyFormats: return "数字格式过多";
    case Kind::WorkbookNotMade: return "无法建立工作簿";
    case Kind::FormatNotMade: return "无法建立单元格格式";
    case Kind::ChartNotMade: return "无法建立图表";
    case Kind::SeriesNotMade: return "无法建立图表的数据系列";
    case Kind::ChartNotInserted: return "插入图表：" + f.name;
    case Kind::ColumnWidth: return "设置列宽：" + f.name;
    case Kind::BadSheetName: return "无效的工作表名称“" + f.name + "”";
    case Kind::ScratchFile: return "无法在临时文件夹中建立文件";
    case Kind::CellTooLong: return cell + " 的文字超过 32767 个字符";
    case Kind::CellNotWritten: return cell + "：" + f.name;
    case Kind::Stopped: return "已取消";
    case Kind::NotClosed: return f.name;
    case Kind::EmptyFile: return "文件为空";
    case Kind::NoDirectory: return "文件结尾的目录记录缺失或有误";
    case Kind::DirectoryIncomplete: return "文件的目录不完整";
    case Kind::MemberMethod: return member + "的压缩方式无法检查";
    case Kind::MemberPosition: return member + "的位置记录有误";
    case Kind::MemberData: return member + "的数据不完整";
    case Kind::MemberContent: return member + "的内容不完整";
    case Kind::CellCount:
        return "工作表 " + num(f.number) + " 的单元格数不符（应有 " + num(f.expected) + " 个，实有 " +
               num(f.found) + " 个）";
    case Kind::MissingSheet: return "缺少工作表 " + num(f.number);
    case Kind::NotAnInteger: return "'" + f.name + "' is not a valid integer value";
    case Kind::SumTooLarge: return "格式“" + f.name + "”的大小合计超出范围";
    }
    return {};
}

std::string failureText(const std::exception& e)
{
    if (const auto* engine = dynamic_cast<const sheet::SheetError*>(&e))
        return sheetFaultText(engine->fault());
    return e.what();
}

namespace {

// A save refuses to replace a folder: that one has its own words.
QString saveReason(int err)
{
    return err == EISDIR ? QStringLiteral("同名文件夹已存在") : QString::fromStdString(reasonText(err));
}

}  // namespace

QString saveFailureText(const std::string& path, const SaveOutcome& outcome)
{
    using Stage = SaveOutcome::Stage;
    QString why;
    switch (outcome.stage) {
    case Stage::Done:
    case Stage::Stopped:  // told by the one who stopped it
        return {};
    case Stage::File:
        why = saveReason(outcome.err);
        break;
    case Stage::ScratchFolder:
        why = QStringLiteral("无法在临时文件夹“%1”中建立文件夹：")
                  .arg(displayText(outcome.scratchParent)) + saveReason(outcome.err);
        break;
    case Stage::Write:
        why = displayText(sheetFaultText(outcome.fault));
        if (outcome.err)
            why = why.isEmpty() ? saveReason(outcome.err) : why + QStringLiteral("：") + saveReason(outcome.err);
        break;
    case Stage::Incomplete:
        why = QStringLiteral("写入的文件不完整：%1（临时文件夹“%2”中的文件写入失败，可能是磁盘空间不足）")
                  .arg(displayText(sheetFaultText(outcome.fault)), displayText(outcome.scratchParent));
        break;
    }
    return QStringLiteral("无法保存“%1”：").arg(displayText(path)) + why;
}

}  // namespace vemlo
