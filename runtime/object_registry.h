#pragma once
// Tables of runtime objects on the program heap, addressed by a slot number
// (0 .. slotCount-1) or, for dynamically numbered objects, by their own address.
// An object is in use while its first 32-bit word is non-zero.
#include <stddef.h>
#include <stdint.h>

struct ObjectRegistry;
typedef void (*FreeObjectRoutine)(ObjectRegistry* registry, intptr_t number);

ObjectRegistry* CreateRegistry(size_t itemSize, int32_t slotCount, FreeObjectRoutine freeRoutine);

// The object in use under `number`, or null.
void* LookUpObject(ObjectRegistry* registry, intptr_t number);
// A new zero-filled dynamically numbered object; its number is its address.
void* AddDynamicObject(ObjectRegistry* registry);
// Zeroes a numbered object's item or unlinks and releases a dynamic one.
void FreeObject(ObjectRegistry* registry, intptr_t number);
// The free routine for every numbered object in use, in slot order, then for each
// dynamic object from the head until none is left.
void FreeAllObjects(ObjectRegistry* registry);
