// Workbook::saveAs: the workbook written as an .xlsx file by libxlsxwriter.
//
// libxlsxwriter runs in its constant-memory mode: each worksheet row goes to
// a temporary file as soon as the next one starts, so a save holds no copy of
// the cells beside the engine's own. Rows are written in order for that.
#include <xlsxwriter.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "spreadsheet/core/celltext.h"
#include "spreadsheet/core/workbook.h"

namespace vemlo::sheet {

namespace {

std::string reasonOf(int err)
{
    if (err == EISDIR)
        return "同名文件夹已存在";
    return fs::reasonText(err);
}

SheetError saveError(const std::string& path, const std::string& reason)
{
    return SheetError("无法保存“" + writableText(path) + "”：" + reason);
}

struct WorkbookFree {
    void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};
using WorkbookHandle = std::unique_ptr<lxw_workbook, WorkbookFree>;

// A file created under a fresh name in the target's folder; removed again
// unless release() is called.
class TempFile {
public:
    TempFile(const std::string& folder, const std::string& target)
        : path_(folder + "/.vemlo-save-XXXXXX")
    {
        fs::FileDescriptor fd(::mkostemp(path_.data(), O_CLOEXEC));
        if (!fd.valid()) {
            const int err = errno;
            path_.clear();
            throw saveError(target, reasonOf(err));
        }
        // The finished file gets the permissions of any newly created file.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd.get(), 0666 & ~mask);
    }
    ~TempFile()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::string path_;
};

// Puts temp in the place of target, which the user agreed to replace. The
// earlier file stays until the new one is in place.
fs::Status replaceFile(const std::string& temp, const std::string& target)
{
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0)
        return errno == ENOENT ? fs::moveNoReplace(temp, target) : fs::Status::fromErrno();
    if (S_ISDIR(st.st_mode))
        return fs::Status{EISDIR};
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(temp.c_str());  // the earlier file, now under the temporary name
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS)
        return fs::Status::fromErrno();
    // The file system cannot exchange: set the earlier file aside first.
    const std::string aside = temp + ".old";
    if (fs::Status s = fs::moveNoReplace(target, aside); !s)
        return s;
    if (fs::Status s = fs::moveNoReplace(temp, target); !s) {
        fs::moveNoReplace(aside, target);
        return s;
    }
    ::unlink(aside.c_str());
    return {};
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void check(lxw_error err, const char* what)
{
    if (err != LXW_NO_ERROR)
        throw SheetError(std::string(what) + "：" + lxw_strerror(err));
}

// A chart cache string: as a cell text, and without control characters,
// which the chart part cannot carry.
char* cacheText(std::string_view text)
{
    std::string s = writableText(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
            c = '?';
    char* out = ::strdup(s.c_str());
    if (!out)
        throw std::bad_alloc();
    return out;
}

// Fills a series range's cache from our cells, so readers that show the
// cached values see the chart as it is (the constant-memory mode cannot
// read the cells back for that).
template <class T>
void fillCache(lxw_series_range* range, const std::vector<T>& items)
{
    if (items.size() > UINT16_MAX)
        return;  // too many points to cache: readers take them from the cells
    range->ignore_cache = LXW_TRUE;
    range->num_data_points = uint16_t(items.size());
    for (const T& item : items) {
        auto* point = static_cast<lxw_series_data_point*>(::calloc(1, sizeof(lxw_series_data_point)));
        if (!point)
            throw std::bad_alloc();
        if constexpr (std::is_same_v<T, std::string>) {
            point->is_string = LXW_TRUE;
            range->has_string_cache = LXW_TRUE;
            point->string = cacheText(item);
        } else {
            point->number = item;
        }
        STAILQ_INSERT_TAIL(range->data_cache, point, list_pointers);
    }
}

void writeChart(lxw_workbook* wb, lxw_worksheet* target, int targetColumns, const Chart& chart)
{
    lxw_chart* c = workbook_add_chart(wb, LXW_CHART_PIE);
    if (!c)
        throw std::bad_alloc();
    const Range& r = chart.source();
    const std::string sheetName = r.sheet->name();
    const bool byColumns = chart.plotBy() == kPlotByColumns;
    const std::vector<ChartSeries> all = chart.series();
    const int firstValues = (byColumns ? r.columns() : r.rows()) > 1 ? 1 : 0;
    for (size_t i = 0; i < all.size(); ++i) {
        lxw_chart_series* s = chart_add_series(c, nullptr, nullptr);
        if (!s)
            throw std::bad_alloc();
        const int line = int(i) + firstValues;
        // 0-based corners of the categories and of this series' values.
        const lxw_row_t top = lxw_row_t(r.top - 1), bottom = lxw_row_t(r.bottom - 1);
        const lxw_col_t left = lxw_col_t(r.left - 1), right = lxw_col_t(r.right - 1);
        if (byColumns) {
            if (firstValues)
                chart_series_set_categories(s, sheetName.c_str(), top, left, bottom, left);
            chart_series_set_values(s, sheetName.c_str(), top, lxw_col_t(left + line), bottom,
                                    lxw_col_t(left + line));
        } else {
            if (firstValues)
                chart_series_set_categories(s, sheetName.c_str(), top, left, top, right);
            chart_series_set_values(s, sheetName.c_str(), lxw_row_t(top + line), left,
                                    lxw_row_t(top + line), right);
        }
        if (firstValues)
            fillCache(s->categories, all[i].categories);
        fillCache(s->values, all[i].values);
    }
    if (chart.hasTitle()) {
        const std::string title = writableText(chart.titleText());
        chart_title_set_name(c, title.c_str());
    }
    // Beside the used columns, one column apart, below the first row.
    check(worksheet_insert_chart(target, 1, lxw_col_t(targetColumns + 1), c), "插入图表");
}

void writeCells(lxw_worksheet* ws, const Worksheet& sheet, const std::vector<lxw_format*>& formats,
                const std::vector<char>& textFormat)
{
    std::string cleaned;
    for (int r = 1; r <= sheet.usedRows(); ++r) {
        const lxw_row_t row = lxw_row_t(r - 1);
        for (const Worksheet::Entry& e : sheet.rowEntries(r)) {
            const lxw_col_t col = lxw_col_t(e.col - 1);
            lxw_format* format = formats[e.format];
            const std::string_view text(e.text, e.length);
            lxw_error err = LXW_NO_ERROR;
            if (text.empty()) {
                if (format)
                    err = worksheet_write_blank(ws, row, col, format);
            } else if (std::optional<double> n; !textFormat[e.format] && (n = plainInteger(text))) {
                err = worksheet_write_number(ws, row, col, *n, format);
            } else if (isWritableText(text)) {
                err = worksheet_write_string(ws, row, col, e.text, format);
            } else {
                cleaned = writableText(text);
                err = worksheet_write_string(ws, row, col, cleaned.c_str(), format);
            }
            if (err != LXW_NO_ERROR) {
                const std::string where =
                    "单元格 (" + std::to_string(r) + ", " + std::to_string(e.col) + ")";
                if (err == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED)
                    throw SheetError(where + " 的文字超过 32767 个字符");
                throw SheetError(where + "：" + lxw_strerror(err));
            }
        }
    }
}

}  // namespace

void Workbook::saveAs(const std::string& path, SaveMode mode)
{
    const std::string folder = folderOf(path);
    TempFile temp(folder, path);

    std::string tmpdir = folder;  // libxlsxwriter's own scratch files go there too
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir.data();
    WorkbookHandle wb(workbook_new_opt(temp.path().c_str(), &options));
    if (!wb)
        throw std::bad_alloc();

    std::vector<lxw_format*> formats(formats_.size(), nullptr);
    std::vector<char> textFormat(formats_.size(), 0);
    for (size_t i = 1; i < formats_.size(); ++i) {
        formats[i] = workbook_add_format(wb.get());
        if (!formats[i])
            throw std::bad_alloc();
        const std::string code = writableText(formats_[i]);
        format_set_num_format(formats[i], code.c_str());
        textFormat[i] = formats_[i] == kTextFormat;
    }
    std::vector<lxw_worksheet*> sheets;
    for (const auto& s : sheets_) {
        const std::string name = writableText(s->name());
        sheets.push_back(workbook_add_worksheet(wb.get(), name.c_str()));
        if (!sheets.back())
            throw SheetError("无效的工作表名称“" + name + "”");
    }
    auto indexOf = [this](const Worksheet* s) {
        for (size_t i = 0; i < sheets_.size(); ++i)
            if (sheets_[i].get() == s)
                return i;
        return size_t(0);
    };
    // A chart without data is left out; one never placed goes beside its data.
    for (const auto& chart : charts_) {
        if (!chart->hasSource())
            continue;
        const Worksheet* at = chart->placedIn() ? chart->placedIn() : chart->source().sheet;
        writeChart(wb.get(), sheets[indexOf(at)], at->usedColumns(), *chart);
    }
    try {
        for (size_t i = 0; i < sheets_.size(); ++i)
            writeCells(sheets[i], *sheets_[i], formats, textFormat);
    } catch (const SheetError& e) {
        throw saveError(path, e.what());
    }

    errno = 0;
    const lxw_error err = workbook_close(wb.release());  // frees the workbook on every path
    if (err != LXW_NO_ERROR)
        throw saveError(path, errno ? reasonOf(errno) : std::string(lxw_strerror(err)));

    const fs::Status moved =
        mode == SaveMode::Replace ? replaceFile(temp.path(), path) : fs::moveNoReplace(temp.path(), path);
    if (!moved)
        throw saveError(path, reasonOf(moved.err));
    temp.release();
}

}  // namespace vemlo::sheet
