#include "Core/AudioFileRef.h"

#include <utility>

namespace Audio {

FileRef::FileRef(FileInterface* source_, uint32_t type_, String name_, uint32_t closeSource_)
{
    set(source_, type_, std::move(name_), closeSource_);
}

void FileRef::set(FileInterface* source_, uint32_t type_, String name_, uint32_t closeSource_)
{
    release();
    source = source_;
    type = type_;
    name = std::move(name_);
    closeSource = closeSource_;
}

void FileRef::release()
{
    FileInterface* stream = source;
    source = nullptr;
    if (closeSource && stream)
        stream->close();
    name = String();
    type = typeNone;
}

}
