#include "Core/FileArray.h"

#include <cstring>
#include <new>

FileArray::FileArray(uint32_t growStep)
    : growStep_(growStep ? growStep : 1)
{
    isOpen = true;
}

FileArray::FileArray(FileInterface& source)
    : growable_(false)
{
    // Only the bytes that were actually read count: a source read from the
    // middle gives its remainder, never uninitialised bytes.
    const uint32_t n = source.remaining();
    isOpen = allocateExact(n);
    if (isOpen && n > 0) {
        const uint32_t got = source.read(buffer_, n);
        size_ = got == readOnlyResult ? 0 : got;
    }
}

FileArray::~FileArray()
{
    releaseBuffer();
}

void FileArray::releaseBuffer()
{
    delete[] buffer_;
    buffer_ = nullptr;
    size_ = 0;
    position_ = 0;
    capacity_ = 0;
}

bool FileArray::allocateExact(uint32_t n)
{
    releaseBuffer();
    if (n == 0)
        return true;
    buffer_ = new (std::nothrow) uint8_t[n]();
    if (!buffer_)
        return false;
    capacity_ = n;
    return true;
}

uint32_t FileArray::read(void* buffer, uint32_t n)
{
    if (!buffer || position_ >= size_)
        return 0;
    const uint32_t count = n < size_ - position_ ? n : size_ - position_;
    std::memcpy(buffer, buffer_ + position_, count);
    position_ += count;
    return count;
}

uint32_t FileArray::write(const void* buffer, uint32_t n)
{
    if (!buffer)
        return 0;
    if (growable_) {
        if (uint64_t(position_) + n > UINT32_MAX)
            n = UINT32_MAX - position_;
        reserve(position_ + n);
    }
    // Whatever the growth gave, never copy past the storage.
    const uint32_t limit = growable_ ? capacity_ : size_;
    const uint32_t room = position_ < limit ? limit - position_ : 0;
    if (n > room)
        n = room;
    if (n == 0)
        return 0;
    std::memcpy(buffer_ + position_, buffer, n);
    position_ += n;
    if (position_ > size_)
        size_ = position_;
    return n;
}

uint32_t FileArray::seek(int32_t offset, uint32_t origin)
{
    position_ = seekInMemory(offset, origin, position_, size_, size_);
    return position_;
}

uint32_t FileArray::close()
{
    releaseBuffer();
    return FileInterface::close();
}

bool FileArray::reserve(uint32_t n)
{
    if (!growable_ || n <= capacity_)
        return true;
    const uint64_t blocks = (uint64_t(n) + growStep_ - 1) / growStep_;
    const uint64_t newCapacity = blocks * growStep_;
    if (newCapacity > UINT32_MAX)
        return false;
    uint8_t* grown = new (std::nothrow) uint8_t[size_t(newCapacity)]();
    if (!grown)
        return false;
    if (buffer_)
        std::memcpy(grown, buffer_, size_);
    delete[] buffer_;
    buffer_ = grown;
    capacity_ = uint32_t(newCapacity);
    return true;
}

bool FileArray::loadBytes(FileInterface& source, uint32_t n)
{
    releaseBuffer();
    if (n == 0)
        return true;
    if (n > source.remaining())
        return false;
    if (!(growable_ ? reserve(n) : allocateExact(n)))
        return false;
    if (source.read(buffer_, n) != n) {
        releaseBuffer();
        return false;
    }
    size_ = n;
    return true;
}

bool FileArray::loadFrom(FileInterface& source)
{
    releaseBuffer();
    if (source.size() == 0)
        return true;
    source.seek(0, 0);
    return loadBytes(source, source.size());
}
