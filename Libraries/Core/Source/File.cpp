#include "Core/File.h"

#include "Core/CrashTrace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace
{
uint32_t clampPosition(int64_t position)
{
    if (position < 0)
        return 0;
    return position > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(position);
}

// The folder of path followed by a backslash, or empty when it has none.
String folderWithBackslash(const String& path)
{
    String folder = path.getFolder();
    if (folder.length() == 0)
        return folder;
    return folder.addBackslash();
}
}

File::File(const String& path, uint32_t write, uint32_t binaryMode, uint32_t readOnly)
{
    CRASH_TRACE();
    const int mode = binaryMode ? _O_BINARY : _O_U16TEXT;
    if (path.length() > 0) {
        if (write)
            fd_ = _wsopen(path.text(), _O_CREAT | _O_TRUNC | _O_RDWR | mode, _SH_DENYNO, _S_IREAD | _S_IWRITE);
        else
            fd_ = _wsopen(path.text(), (readOnly ? _O_RDONLY : _O_RDWR) | mode, _SH_DENYNO);
    }
    isOpen = fd_ >= 0;
    if (!isOpen)
        CrashTrace::setLastValues(errno, 0);
    if (isOpen && !write)
        fileSize = clampPosition(_filelengthi64(fd_));

    name = path.getFileName();
    folder = folderWithBackslash(path);
    wchar_t full[_MAX_PATH + 1] = {};
    if (path.length() > 0 && _wfullpath(full, path.text(), _MAX_PATH))
        fullFolder = folderWithBackslash(String(full));
}

File::~File()
{
    closeDescriptor();
}

void File::closeDescriptor()
{
    if (fd_ >= 0)
        _close(fd_);
    fd_ = -1;
    isOpen = false;
}

uint32_t File::read(void* buffer, uint32_t n)
{
    if (fd_ < 0 || !buffer)
        return 0;
    uint32_t done = 0;
    while (done < n) {
        const uint32_t want = n - done < uint32_t(INT_MAX) ? n - done : uint32_t(INT_MAX);
        const int got = _read(fd_, static_cast<uint8_t*>(buffer) + done, want);
        if (got <= 0)
            break;
        done += uint32_t(got);
        if (uint32_t(got) < want)
            break;
    }
    return done;
}

uint32_t File::write(const void* buffer, uint32_t n)
{
    if (fd_ < 0 || !buffer)
        return 0;
    uint32_t done = 0;
    while (done < n) {
        const uint32_t want = n - done < uint32_t(INT_MAX) ? n - done : uint32_t(INT_MAX);
        const int put = _write(fd_, static_cast<const uint8_t*>(buffer) + done, want);
        if (put <= 0)
            break;
        done += uint32_t(put);
    }
    return done;
}

uint32_t File::seek(int32_t offset, uint32_t origin)
{
    if (fd_ < 0 || origin > 2)
        return 0;
    const int64_t position = _lseeki64(fd_, offset, int(origin));
    return position < 0 ? tell() : clampPosition(position);
}

uint32_t File::seekTo(uint32_t position)
{
    if (fd_ < 0)
        return 0;
    const int64_t reached = _lseeki64(fd_, int64_t(position), SEEK_SET);
    return reached < 0 ? tell() : clampPosition(reached);
}

uint32_t File::tell()
{
    if (fd_ < 0)
        return 0;
    return clampPosition(_telli64(fd_));
}

uint32_t File::size()
{
    if (fd_ < 0)
        return fileSize;
    // The length on disk, not the current position: a writer that seeks back
    // to patch a header must still see everything it wrote.
    const uint32_t length = clampPosition(_filelengthi64(fd_));
    if (length > fileSize)
        fileSize = length;
    return fileSize;
}

uint32_t File::close()
{
    closeDescriptor();
    return FileInterface::close();
}
