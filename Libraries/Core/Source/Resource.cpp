#include "Core/Resource.h"

#include <windows.h>

Resource::Resource(uint16_t id, uint16_t type)
    : Resource(MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type))
{
}

Resource::Resource(const wchar_t* name, const wchar_t* type)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, name, type);
    if (!found)
        return;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded)
        return;
    data_ = static_cast<uint8_t*>(LockResource(loaded));
    size_ = data_ ? SizeofResource(module, found) : 0;
    fileSize = size_;
    isOpen = data_ != nullptr;
}

uint32_t Resource::read(void* buffer, uint32_t n)
{
    if (!buffer)
        return readOnlyResult;
    if (!data_ || position_ >= size_)
        return 0;
    const uint32_t count = n < size_ - position_ ? n : size_ - position_;
    CopyMemory(buffer, data_ + position_, count);
    position_ += count;
    return count;
}

uint32_t Resource::seek(int32_t offset, uint32_t origin)
{
    position_ = seekInMemory(offset, origin, position_, size_, size_ > 0 ? size_ - 1 : 0);
    return position_;
}

uint32_t Resource::close()
{
    // Module resources are never freed; forgetting them is all there is to do.
    data_ = nullptr;
    size_ = 0;
    position_ = 0;
    isOpen = false;
    return FileInterface::close();
}
