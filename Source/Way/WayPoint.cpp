#include "Way/WayPoint.h"

#include "Way/WaySegment.h"

namespace Way {

Point::~Point()
{
    delete segment;
    segment = nullptr;
    branches.clearWith([](PointList* list) { deletePointList(list); });
    links.deleteAll();
}

void deletePointList(PointList* list)
{
    if (!list)
        return;
    list->deleteAll();
    delete list;
}

}
