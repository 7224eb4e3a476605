#include "object_registry.h"

#include <string.h>

#include "program_heap.h"

// Dynamic objects sit behind a list node; their number is the object's address.
struct DynamicNode {
  DynamicNode* next;
  DynamicNode* previous;
};

struct ObjectRegistry {
  size_t itemSize;
  int32_t slotCount;
  FreeObjectRoutine freeRoutine;
  uint8_t* slots;  // slotCount items of itemSize bytes
  DynamicNode* head;
};

static const size_t kNodeSize = (sizeof(DynamicNode) + 7) & ~size_t(7);

static inline void* ObjectOf(DynamicNode* node) { return reinterpret_cast<uint8_t*>(node) + kNodeSize; }
static inline DynamicNode* NodeOf(void* object) {
  return reinterpret_cast<DynamicNode*>(static_cast<uint8_t*>(object) - kNodeSize);
}
static inline bool InUse(const void* object) {
  uint32_t first;
  memcpy(&first, object, sizeof first);
  return first != 0;
}
static inline bool IsSlotNumber(ObjectRegistry* registry, intptr_t number) {
  return number >= 0 && number < registry->slotCount;
}

ObjectRegistry* CreateRegistry(size_t itemSize, int32_t slotCount, FreeObjectRoutine freeRoutine) {
  if (itemSize < sizeof(uint32_t)) itemSize = sizeof(uint32_t);
  ObjectRegistry* registry = static_cast<ObjectRegistry*>(ProgramHeapAllocate(sizeof(ObjectRegistry)));
  if (!registry) return nullptr;
  registry->itemSize = itemSize;
  registry->slotCount = slotCount > 0 ? slotCount : 0;
  registry->freeRoutine = freeRoutine;
  if (registry->slotCount) {
    registry->slots = static_cast<uint8_t*>(ProgramHeapAllocate(itemSize * size_t(registry->slotCount)));
    if (!registry->slots) {
      ProgramHeapFree(registry);
      return nullptr;
    }
  }
  return registry;
}

void* LookUpObject(ObjectRegistry* registry, intptr_t number) {
  if (!registry) return nullptr;
  void* object;
  if (IsSlotNumber(registry, number)) {
    object = registry->slots + size_t(number) * registry->itemSize;
  } else {
    // Only addresses handed out by AddDynamicObject are taken as objects.
    object = nullptr;
    for (DynamicNode* node = registry->head; node; node = node->next) {
      if (intptr_t(ObjectOf(node)) == number) {
        object = ObjectOf(node);
        break;
      }
    }
  }
  return object && InUse(object) ? object : nullptr;
}

void* AddDynamicObject(ObjectRegistry* registry) {
  if (!registry) return nullptr;
  DynamicNode* node = static_cast<DynamicNode*>(ProgramHeapAllocate(kNodeSize + registry->itemSize));
  if (!node) return nullptr;
  node->next = registry->head;
  if (registry->head) registry->head->previous = node;
  registry->head = node;
  return ObjectOf(node);
}

void FreeObject(ObjectRegistry* registry, intptr_t number) {
  if (!registry) return;
  if (IsSlotNumber(registry, number)) {
    memset(registry->slots + size_t(number) * registry->itemSize, 0, registry->itemSize);
    return;
  }
  for (DynamicNode* node = registry->head; node; node = node->next) {
    if (intptr_t(ObjectOf(node)) != number) continue;
    if (node->previous) node->previous->next = node->next;
    else registry->head = node->next;
    if (node->next) node->next->previous = node->previous;
    ProgramHeapFree(node);
    return;
  }
}

void FreeAllObjects(ObjectRegistry* registry) {
  if (!registry) return;
  for (int32_t slot = 0; slot < registry->slotCount; slot++) {
    if (!InUse(registry->slots + size_t(slot) * registry->itemSize)) continue;
    if (registry->freeRoutine) registry->freeRoutine(registry, slot);
    else FreeObject(registry, slot);
  }
  while (DynamicNode* node = registry->head) {
    intptr_t number = intptr_t(ObjectOf(node));
    if (registry->freeRoutine) registry->freeRoutine(registry, number);
    // A free routine that left the object in place must not stall the sweep.
    if (registry->head == node) FreeObject(registry, number);
  }
}
