#include "platform/fsresult.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vemlo::fs {

Status Status::fromErrno() { return Status{errno ? errno : EIO}; }

std::string reasonText(int err)
{
    switch (err) {
    case 0: return "成功";
    case EEXIST:
    case ENOTEMPTY: return "目标已存在";
    case EACCES:
    case EPERM:
    case EROFS: return "权限不足";
    case ENOENT: return "文件不存在";
    case ENOTDIR: return "不是文件夹";
    case ENAMETOOLONG: return "名称过长";
    case EXDEV: return "不能跨文件系统移动";
    case EBUSY: return "文件正在使用";
    case ENOSPC: return "磁盘空间不足";
    case EINVAL: return "无效的名称或操作";
    case ENOTSUP: return "文件系统不支持此操作";
    default: {
        char buf[256];
        const char* text = strerror_r(err, buf, sizeof buf);
        return text ? std::string(text) : "错误 " + std::to_string(err);
    }
    }
}

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace vemlo::fs
