#pragma once

#include "Objects/ObjectPackage.h"

#include "ObjectPackageWriter.h"
#include "QuadSample.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <memory>

// The builder's sample quad, written and built as the game builds a package
// it found on disk.
inline std::unique_ptr<ObjPkgManager::Package> quadSamplePackage()
{
    FileArray bytes(4096);
    EXPECT_TRUE(ObjectPackageWriter::write(bytes, QuadSample::package()));
    bytes.seek(0, 0);
    auto package = std::make_unique<ObjPkgManager::Package>(nullptr, String(L"Quad.teo"));
    EXPECT_TRUE(package->buildFrom(bytes, nullptr));
    return package;
}
