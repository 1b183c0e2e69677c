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

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& o) noexcept
{
    if (this != &o) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

}  // namespace vemlo::fs
