#include "DriverSamples.h"

#include "FunctionsRecordWriter.h"
#include "MeshSamples.h"

namespace DriverSamples {

ObjectPackageWriter::Package ringGate()
{
    auto post = [](const char* name, float x) {
        PackagePartWriter::Mesh m;
        m.body = MeshSamples::record();
        m.displayName = name;
        m.name = name;
        m.position = {x, 2.0f, 0.0f};
        m.scale = 4.0f;
        return m;
    };
    ObjectPackageWriter::Package p;
    p.version = "v1.1";
    p.meshes.push_back(post("PostLeft", -20.0f));
    p.meshes.push_back(post("PostRight", 20.0f));
    FunctionsRecordWriter::Record functions;
    functions.gate = FunctionsRecordWriter::Gate{"PostLeft"};
    p.functions = functions;
    return p;
}

}
