#pragma once

#include "Core/FileInterface.h"
#include "Core/FolderInterface.h"
#include "Core/SCList.h"

// A snapshot of the files and sub-folders of a disk folder, in the order the
// system enumerates them ("." and ".." left out). isOpen tells whether the
// folder could be listed (or, when asked, was created).
class Directory : public FolderInterface
{
public:
    // path names a folder, not a pattern. createIfMissing makes the folder
    // (one level) when it cannot be listed.
    Directory(const String& path, bool createIfMissing);
    ~Directory() override;

    void list();
    // Empties one of the two lists, deleting its records.
    void clearEntries(SCList<FileInfo>& list) { list.deleteAll(); }
    void clearEntries(SCList<FolderInfo>& list) { list.deleteAll(); }

    // The folder path with '/' separators and a final "/*" (Objects\ gives Objects/*).
    static String makePattern(const String& path);

    SCList<FileInfo> files;
    SCList<FolderInfo> folders;

private:
    String path_;
    String pattern_;
    bool createIfMissing_ = false;
};
