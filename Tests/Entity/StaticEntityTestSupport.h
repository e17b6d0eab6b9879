#pragma once
// Packages, objects and instances for the static-entity tests: what the
// object packages will provide, reduced to what the manager reads.
#include "Entity/StaticEntity.h"
#include "Entity/StaticEntityManager.h"

#include "Core/FileArray.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace StaticTests {

struct Package final : StaticEntityManager::Method
{
    Package(StaticEntityManager* owner, const wchar_t* packageName, float objectRadius = 10.0f)
        : owner_(owner), radius_(objectRadius)
    {
        name = String(packageName);
    }
    float radius() const override { return radius_; }
    StaticEntityManager* manager() const override { return owner_; }

    StaticEntityManager* owner_;
    float radius_;
};

// Finds packages by name without regard to case.
struct Packages final : StaticEntityManager::PackageFinder
{
    StaticEntityManager::Method* findPackage(const String& wanted) override
    {
        const auto fold = [](const String& s) {
            std::wstring out(s.text());
            for (wchar_t& c : out)
                c = wchar_t(std::towlower(c));
            return out;
        };
        auto found = byName.find(fold(wanted));
        return found == byName.end() ? nullptr : found->second.get();
    }

    Package& add(StaticEntityManager* owner, const wchar_t* packageName, float objectRadius = 10.0f)
    {
        auto package = std::make_unique<Package>(owner, packageName, objectRadius);
        Package& made = *package;
        std::wstring key(packageName);
        for (wchar_t& c : key)
            c = wchar_t(std::towlower(c));
        byName[key] = std::move(package);
        return made;
    }

    std::map<std::wstring, std::unique_ptr<Package>> byName;
};

// A live instance that records where it was moved.
struct LiveInstance final : StaticEntity::Instance
{
    explicit LiveInstance(EntityManager& manager) : StaticEntity::Instance(manager) { ++alive; }
    ~LiveInstance() override { --alive; }
    uint32_t place(StaticEntity& entity, matrix3d& transform) override
    {
        entity.getTransform(transform, false);
        ++placed;
        return 1;
    }
    int placed = 0;
    static inline int alive = 0;
};

// An object whose instances are the instances above; counts the objects alive.
struct TestObject final : Object
{
    explicit TestObject(EntityManager* entities = nullptr) : entities_(entities) { ++alive; }
    ~TestObject() override { --alive; }
    Instance* buildInstance() override { return entities_ ? new LiveInstance(*entities_) : nullptr; }
    EntityManager* entities_;
    static inline int alive = 0;
};

struct Creator final : StaticEntityManager::Creator
{
    Object* createObject() override
    {
        ++made;
        return new TestObject(entities);
    }
    EntityManager* entities = nullptr;
    int made = 0;
};

// A ".obj" record as the file holds it, read independently of the game.
struct Record
{
    std::string package;
    float position[3] = {};
    float scale = 1.0f, heightOffset = -0.1f, rotation = 0.0f;
    uint8_t state = 0, flag = 0;

    auto key() const
    {
        return std::make_tuple(position[0], position[1], position[2], package, scale, heightOffset, rotation, state,
                               flag);
    }
    bool operator<(const Record& o) const { return key() < o.key(); }
    bool operator==(const Record& o) const { return key() == o.key(); }
};

// Every record of a well-formed file.
inline std::vector<Record> records(FileArray& bytes)
{
    std::vector<Record> out;
    const uint8_t* p = bytes.memory();
    const uint32_t size = bytes.size();
    uint32_t at = 4;
    const auto take = [&](void* into, uint32_t n) {
        if (at + n > size)
            return false;
        std::memcpy(into, p + at, n);
        at += n;
        return true;
    };
    while (at < size) {
        Record r;
        for (uint8_t tag = 1; tag != 0 && take(&tag, 1);) {
            uint32_t length = 0;
            switch (tag) {
            case 1:
                take(&length, 4);
                r.package.assign(reinterpret_cast<const char*>(p + at), std::min(length, size - at));
                at += length;
                break;
            case 2: take(r.position, 12); break;
            case 3: take(&r.scale, 4); break;
            case 4: take(&r.heightOffset, 4); break;
            case 5: take(&r.rotation, 4); break;
            case 6: take(&r.state, 1); break;
            case 7: take(&r.flag, 1); break;
            default: break;
            }
        }
        out.push_back(r);
    }
    return out;
}

}
