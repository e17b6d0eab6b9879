#pragma once
// The posed vertices of a boned mesh written into the vertex buffer of the
// mesh drawn for it, each vertex moved rigidly by the one bone that lists it.

#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"
#include "Entity/StoredMesh.h"

// The drawn mesh's vertex buffer := the boned mesh's vertices, then those its
// bones list posed through them (Mesh::packVertices). Nothing without a
// buffer or when the two vertex counts differ; a lock that gives no pointer
// writes nothing. Main thread.
void skinVerticesByBone(EntityManager::StoredMesh& drawn, EntityManager::StoredMesh::Source& boned);
