#include "model/submodel.h"

#include "model/int_array.h"
#include "model/network.h"
#include "model/node.h"

#include <cstring>
#include <new>

namespace quarn::detail {
namespace {

// Handles keep the slot index below the flag bit, so a handle never loses its slot when the
// flag is cleared again.
constexpr int MAX_SUBMODEL_SLOTS = QNL_submodelHandler::FLAG;

int CopyScreenComments(const QNL_screenComments& source, QNL_screenComments& target) {
    target.GetRectangles().CleanUp(1);
    target.GetTexts().CleanUp(1);
    for (int i = 0; i < source.GetCount(); ++i) {
        const int result =
            target.Add(source.GetRectangles().GetRectangle(i), source.GetTexts().GetString(i));
        if (result != 0) return result;
    }
    return 0;
}

void ApplyMainScreenDefaults(QNL_screenInfo& screen, int borderThickness) {
    screen.position.width = 76;
    screen.position.height = 36;
    screen.color = 16250597;
    screen.selColor = 0xBBBBBB;
    screen.font = 1;
    screen.fontColor = 0;
    screen.borderThickness = borderThickness;
    screen.borderColor = 0xBB0000;
    screen.flags =
        (screen.flags | QNL_screenInfo::FLAG_SHOW_IN_ARCS | QNL_screenInfo::FLAG_SHOW_OUT_ARCS) &
        ~4;
}

} // namespace
} // namespace quarn::detail

using quarn::detail::CopyScreenComments;
using quarn::detail::MAX_SUBMODEL_SLOTS;

// ---------------------------------------------------------------------------------------
// QNL_submodel

// The header is copied as it is (no validation, no owner); the screen comments come along so
// that a copied network keeps its drawings.
QNL_submodel::QNL_submodel(const QNL_submodel& source)
    : QNL_object(), header(source.header), screen(source.screen),
      windowPosition(source.windowPosition) {
    if (!source.IsValid()) {
        header.CleanUp(1);
        screen.Assign(QNL_screenInfo());
        windowPosition.Assign(QNL_rectangle());
        return;
    }
    windowBackground = source.windowBackground;
    if (!header.IsValid() || CopyScreenComments(source.comments, comments) != 0)
        status &= ~STATUS_VALID;
}

int QNL_submodel::Assign(const QNL_submodel& source) {
    if (!source.IsValid()) return -567;
    if (this == &source) return 0;
    int result = header.Assign(source.header);
    if (result != 0) return result;
    screen.Assign(source.screen);
    windowPosition.Assign(source.windowPosition);
    windowBackground = source.windowBackground;
    result = CopyScreenComments(source.comments, comments);
    if (result != 0) return result;
    return CheckConsistency(1);
}

// ---------------------------------------------------------------------------------------
// QNL_submodelHandler: life cycle

QNL_submodelHandler::QNL_submodelHandler() {
    Init(nullptr);
}

int QNL_submodelHandler::CleanUp(int) {
    std::vector<Slot>().swap(slots);
    ForgetIndex();
    network = nullptr;
    growth = DEFAULT_GROWTH;
    CheckConsistency(1);
    return 0;
}

int QNL_submodelHandler::CheckConsistency(int) {
    if (!slots.empty() && network != nullptr) {
        status |= STATUS_VALID;
        return 0;
    }
    status &= ~STATUS_VALID;
    return -567;
}

int QNL_submodelHandler::Init(QNL_network* newNetwork) {
    CleanUp(1);
    network = newNetwork;
    try {
        slots.resize(1);
    } catch (const std::bad_alloc&) {
        CheckConsistency(1);
        return -42;
    }
    const int result = CreateMainSubmodel();
    CheckConsistency(1);
    return result;
}

int QNL_submodelHandler::Reset() {
    ForgetIndex();
    for (Slot& slot : slots) {
        slot.submodel.reset();
        slot.parent = FREE_SLOT;
    }
    if (slots.empty()) {
        try {
            slots.resize(1);
        } catch (const std::bad_alloc&) {
            CheckConsistency(1);
            return -42;
        }
    }
    const int result = CreateMainSubmodel();
    // Nodes must not keep handles of slots that are free now (a later submodel would
    // silently take them in).
    if (result == 0) MoveNodes(-1, 0);
    CheckConsistency(1);
    return result;
}

int QNL_submodelHandler::SetNetwork(QNL_network* newNetwork) {
    network = newNetwork;
    CheckConsistency(1);
    return 0;
}

int QNL_submodelHandler::CreateMainSubmodel() {
    slots[0].submodel.reset();
    slots[0].parent = FREE_SLOT;
    indexedAt = NO_INDEX;
    try {
        auto main = std::make_unique<QNL_submodel>();
        const std::string id = MakeSubmodelId(0);
        int result = main->header.SetId(id.c_str());
        if (result == 0) result = main->header.SetName(id.c_str());
        if (result != 0) return result;
        quarn::detail::ApplyMainScreenDefaults(main->screen, 3);
        main->windowBackground = 0xFFFFFF;
        defaultSubmodelScreen.Assign(main->screen);
        quarn::detail::ApplyMainScreenDefaults(defaultNodeScreen, 1);
        slots[0].submodel = std::move(main);
        slots[0].parent = PARENT_OF_MAIN;
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

int QNL_submodelHandler::Assign(const QNL_submodelHandler& source) {
    if (this == &source) return 0;
    if (!source.IsValid()) return -567;
    // Built aside, so running out of memory leaves this handler as it was.
    std::vector<Slot> copy;
    try {
        copy.resize(source.slots.size());
        for (std::size_t i = 0; i < source.slots.size(); ++i) {
            const Slot& from = source.slots[i];
            copy[i].parent = from.parent;
            if (!from.submodel) continue;
            copy[i].submodel = std::make_unique<QNL_submodel>(*from.submodel);
            if (from.submodel->IsValid() && !copy[i].submodel->IsValid()) return -42;
        }
    } catch (const std::bad_alloc&) {
        return -42;
    }
    CleanUp(1);
    slots.swap(copy);
    ForgetIndex();
    growth = source.growth;
    defaultNodeScreen.Assign(source.defaultNodeScreen);
    defaultSubmodelScreen.Assign(source.defaultSubmodelScreen);
    CheckConsistency(1);
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_submodelHandler: the tree

int QNL_submodelHandler::UsedSlot(int handle) const {
    if (handle < 0) return -1;
    const int slot = handle & ~FLAG;
    if (slot >= static_cast<int>(slots.size())) return -1;
    return slots[static_cast<std::size_t>(slot)].submodel ? slot : -1;
}

void QNL_submodelHandler::ForgetIndex() {
    slotOfId.clear();
    indexedAt = NO_INDEX;
    firstFreeHint = 0;
}

// The first slot whose submodel bears the identifier. The index is rebuilt only when some
// identifier changed, so creating many submodels does not scan the table once per creation.
int QNL_submodelHandler::FindSlotById(const char* id) const {
    if (id == nullptr) return -1;
    const std::uint64_t now = QNL_header::IdChanges();
    if (indexedAt != now) {
        slotOfId.clear();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (!slots[i].submodel) continue;
            const char* own = slots[i].submodel->header.GetId();
            if (own != nullptr) slotOfId.emplace(own, static_cast<int>(i));
        }
        indexedAt = now;
    }
    const auto found = slotOfId.find(id);
    return found == slotOfId.end() ? -1 : found->second;
}

std::string QNL_submodelHandler::MakeSubmodelId(int number) const {
    // At most one number per used slot is taken, so the count ends.
    long long n = number < 0 ? 0 : number;
    std::string id;
    for (;;) {
        id = "Sub" + std::to_string(n);
        if (FindSlotById(id.c_str()) < 0) return id;
        ++n;
    }
}

int QNL_submodelHandler::CreateSubmodel(int parentHandle, const char* id) {
    if (!IsValid()) return -567;
    const int parent = UsedSlot(parentHandle);
    if (parent < 0) return -2;
    if (id != nullptr && FindSlotById(id) >= 0) return -2;

    int slot = firstFreeHint;
    const int slotCount = static_cast<int>(slots.size());
    while (slot < slotCount && slots[static_cast<std::size_t>(slot)].submodel)
        ++slot;
    firstFreeHint = slot;
    if (slot >= MAX_SUBMODEL_SLOTS) return -2;

    try {
        // The submodel is made complete before it takes a slot: an identifier that the
        // header refuses leaves no submodel behind.
        const std::string text = id != nullptr ? std::string(id) : MakeSubmodelId(slot);
        auto submodel = std::make_unique<QNL_submodel>();
        // The index stays current when the new identifier is the only change since the
        // lookup above made it so.
        const bool indexCurrent = indexedAt == QNL_header::IdChanges();
        int result = submodel->header.SetId(text.c_str());
        if (result != 0) return result;
        const std::uint64_t afterOwnChange = QNL_header::IdChanges();
        result = submodel->header.SetName(text.c_str());
        if (result != 0) return result;
        submodel->screen.Assign(defaultSubmodelScreen);

        if (slot == slotCount) {
            const long long grown = static_cast<long long>(slotCount) + growth;
            slots.resize(
                static_cast<std::size_t>(grown < MAX_SUBMODEL_SLOTS ? grown : MAX_SUBMODEL_SLOTS));
        }
        Slot& target = slots[static_cast<std::size_t>(slot)];
        target.submodel = std::move(submodel);
        target.parent = parent;
        firstFreeHint = slot + 1;
        if (indexCurrent && afterOwnChange == indexedAt + 1) {
            slotOfId.emplace(target.submodel->header.GetId(), slot);
            indexedAt = afterOwnChange;
        }
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return slot + FLAG;
}

void QNL_submodelHandler::MoveNodes(int fromSlot, int toSlot) {
    if (network == nullptr) return;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        QNL_node* node = network->GetNode(h);
        if (node == nullptr) continue;
        const int own = node->GetSubmodel() & ~FLAG;
        const bool moves = fromSlot < 0 ? own != toSlot : own == fromSlot;
        if (moves) node->SetSubmodel(toSlot + FLAG);
    }
}

int QNL_submodelHandler::DeleteSubmodel(int handle) {
    if (!IsValid()) return -567;
    const int slot = UsedSlot(handle);
    if (slot <= 0) return -2;
    const int parent = slots[static_cast<std::size_t>(slot)].parent;
    for (Slot& other : slots)
        if (other.submodel && other.parent == slot) other.parent = parent;
    MoveNodes(slot, parent);
    slots[static_cast<std::size_t>(slot)].submodel.reset();
    slots[static_cast<std::size_t>(slot)].parent = FREE_SLOT;
    indexedAt = NO_INDEX;
    if (slot < firstFreeHint) firstFreeHint = slot;
    CheckConsistency(1);
    return 0;
}

int QNL_submodelHandler::SetSubmodel(int submodelHandle, int newParentHandle) {
    if (!IsValid()) return -567;
    const int slot = UsedSlot(submodelHandle);
    const int parent = UsedSlot(newParentHandle);
    if (slot <= 0 || parent < 0 || parent == slot) return -2;
    if (IsDescendantOf(parent, slot) != 0) return -2;
    slots[static_cast<std::size_t>(slot)].parent = parent;
    return 0;
}

int QNL_submodelHandler::IsDescendantOf(int handle, int candidate) const {
    if (!IsValid()) return -567;
    const int slot = UsedSlot(handle);
    const int wanted = UsedSlot(candidate);
    if (slot < 0 || wanted < 0) return -2;
    // The chain of a tree is never longer than the table; the bound only guards the walk.
    const int slotCount = static_cast<int>(slots.size());
    int step = slots[static_cast<std::size_t>(slot)].parent;
    for (int taken = 0; step >= 0 && step < slotCount && taken < slotCount; ++taken) {
        if (step == wanted) return 1;
        step = slots[static_cast<std::size_t>(step)].parent;
    }
    return 0;
}

int QNL_submodelHandler::GetParent(int handle) const {
    const int slot = UsedSlot(handle);
    if (slot < 0) return -2;
    const int parent = slots[static_cast<std::size_t>(slot)].parent;
    return parent == PARENT_OF_MAIN ? PARENT_OF_MAIN : parent + FLAG;
}

QNL_submodel* QNL_submodelHandler::GetSubmodel(int handle) const {
    const int slot = UsedSlot(handle);
    return slot < 0 ? nullptr : slots[static_cast<std::size_t>(slot)].submodel.get();
}

int QNL_submodelHandler::GetFirstSubmodel() const {
    if (!IsValid()) return -2;
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (slots[i].submodel) return static_cast<int>(i) + FLAG;
    return -2;
}

int QNL_submodelHandler::GetNextSubmodel(int handle) const {
    if (!IsValid()) return -567;
    const int slot = UsedSlot(handle);
    if (slot < 0) return -2;
    for (std::size_t i = static_cast<std::size_t>(slot) + 1; i < slots.size(); ++i)
        if (slots[i].submodel) return static_cast<int>(i) + FLAG;
    return -2;
}

int QNL_submodelHandler::FindSubmodel(const char* id) const {
    if (!IsValid()) return -567;
    const int slot = FindSlotById(id);
    return slot < 0 ? -2 : slot + FLAG;
}

int QNL_submodelHandler::IsSubmodelIdUsed(const char* id) const {
    if (!IsValid()) return -567;
    return FindSlotById(id) >= 0 ? 1 : 0;
}

int QNL_submodelHandler::GetChildSubmodels(int handle, QNL_intArray& out) const {
    const int slot = UsedSlot(handle);
    if (slot < 0) return -2;
    int added = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (!slots[i].submodel || slots[i].parent != slot) continue;
        if (out.Add(static_cast<int>(i) + FLAG) != 0) return -42;
        ++added;
    }
    return added;
}

int QNL_submodelHandler::GetNodesOfSubmodel(int handle, QNL_intArray& out) const {
    const int slot = UsedSlot(handle);
    if (slot < 0) return -2;
    if (network == nullptr) return 0;
    int added = 0;
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        if (node == nullptr || (node->GetSubmodel() & ~FLAG) != slot) continue;
        if (out.Add(h) != 0) return -42;
        ++added;
    }
    return added;
}

// Breadth-first from the main submodel; the children of each submodel follow in slot order.
int QNL_submodelHandler::GetOrderedSubmodels(QNL_intArray& out) const {
    out.Flush();
    if (slots.empty() || !slots[0].submodel) return 0;
    try {
        std::vector<std::vector<int>> children(slots.size());
        for (std::size_t i = 1; i < slots.size(); ++i) {
            const int parent = slots[i].parent;
            if (slots[i].submodel && parent >= 0 && static_cast<std::size_t>(parent) < slots.size())
                children[static_cast<std::size_t>(parent)].push_back(static_cast<int>(i));
        }
        std::vector<int> queue{0};
        for (std::size_t next = 0; next < queue.size(); ++next)
            for (int child : children[static_cast<std::size_t>(queue[next])])
                queue.push_back(child);
        for (int slot : queue)
            if (out.Add(slot + FLAG) != 0) return -42;
    } catch (const std::bad_alloc&) {
        return -42;
    }
    return 0;
}

int QNL_submodelHandler::GetNumberOfSubmodels() const {
    int used = 0;
    for (const Slot& slot : slots)
        if (slot.submodel) ++used;
    return used;
}
