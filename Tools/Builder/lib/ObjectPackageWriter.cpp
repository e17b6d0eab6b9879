#include "ObjectPackageWriter.h"

#include "Core/FileArray.h"

namespace ObjectPackageWriter {

namespace {

enum Kind : uint32_t {
    endKind = 0,
    memoryKind = 1,
    filesKind = 2,
    meshCountKind = 3,
    meshesKind = 4,
    physicsKind = 5,
    lightCountKind = 6,
    lightsKind = 7,
    functionsKind = 8,
};

bool writeBytes(FileInterface& target, const std::vector<uint8_t>& bytes)
{
    return target.writeValue(uint32_t(bytes.size())) &&
           target.write(bytes.data(), uint32_t(bytes.size())) == bytes.size();
}

bool writeFiles(FileInterface& target, const std::vector<File>& files)
{
    if (!target.writeValue(uint32_t(filesKind)) || !target.writeValue(uint32_t(files.size())))
        return false;
    for (const File& file : files)
        if (file.name.size() > FileInterface::maxStoredStringLength || !target.writeValue(uint32_t(file.name.size())) ||
            target.write(file.name.data(), uint32_t(file.name.size())) != file.name.size() ||
            !writeBytes(target, file.bytes))
            return false;
    return true;
}

}

bool write(FileInterface& target, const Package& p)
{
    if (p.version.size() != 4 || target.write(p.version.data(), 4) != 4)
        return false;
    if (!target.writeValue(uint32_t(memoryKind)) || !writeBytes(target, p.memory) || !writeFiles(target, p.files) ||
        !target.writeValue(uint32_t(meshCountKind)) || !target.writeValue(int32_t(p.meshes.size())))
        return false;
    if (!p.meshes.empty()) {
        if (!target.writeValue(uint32_t(meshesKind)))
            return false;
        for (const PackagePartWriter::Mesh& mesh : p.meshes)
            if (!PackagePartWriter::writeMesh(target, mesh))
                return false;
    }
    if (p.physics &&
        (!target.writeValue(uint32_t(physicsKind)) || !PackagePartWriter::writePhysicsRecord(target, *p.physics)))
        return false;
    if (!p.lights.empty()) {
        if (!target.writeValue(uint32_t(lightCountKind)) || !target.writeValue(int32_t(p.lights.size())) ||
            !target.writeValue(uint32_t(lightsKind)))
            return false;
        for (const PackagePartWriter::Light& light : p.lights)
            if (!PackagePartWriter::writeLight(target, light))
                return false;
    }
    if (p.functions &&
        (!target.writeValue(uint32_t(functionsKind)) || !FunctionsRecordWriter::write(target, *p.functions)))
        return false;
    return target.writeValue(uint32_t(endKind));
}

bool save(const Package& package, const String& path)
{
    FileArray bytes(4096);
    return write(bytes, package) && FileInterface::replaceFile(bytes, path);
}

}
