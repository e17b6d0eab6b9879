#pragma once
// Writes an object package's ".teo" file as the game reads it: the version
// tag, then the records in the order the reader requires (memory bytes,
// embedded files, the mesh count), the meshes, the physics record, the light
// count with the lights and the functions record, then kind 0.

#include "FunctionsRecordWriter.h"
#include "PackagePartWriter.h"

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ObjectPackageWriter {

struct File
{
    std::string name;
    std::vector<uint8_t> bytes;
};

struct Package
{
    // Four characters: "v1.0", "v1.1" or "v1.2".
    std::string version = "v1.2";
    std::vector<uint8_t> memory;
    std::vector<File> files;
    std::vector<PackagePartWriter::Mesh> meshes;
    std::optional<PackagePartWriter::PhysicsRecord> physics;
    std::vector<PackagePartWriter::Light> lights;
    std::optional<FunctionsRecordWriter::Record> functions;
};

// Appends the package at the target's position; false when a part cannot be
// stored (see the part writers) or a write fails.
bool write(FileInterface& target, const Package& package);
// The package as a new file at path.
bool save(const Package& package, const String& path);

}
