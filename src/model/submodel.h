#pragma once

#include "model/node_info.h"
#include "model/object.h"
#include "model/rectangle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QNL_network;
class QNL_intArray;

// A named box of a network's drawing: its header, its box in the parent's window, its own
// window and the free comments drawn in it. Submodels group nodes for display only.
class QNL_submodel : public QNL_object {
public:
    static constexpr int NOT_SET = QNL_screenInfo::NOT_SET;

    QNL_submodel() = default;
    // An invalid source gives an empty submodel.
    QNL_submodel(const QNL_submodel& source);
    QNL_submodel& operator=(const QNL_submodel&) = delete;

    // Header, screen information, window position, background and screen comments.
    int Assign(const QNL_submodel& source);

    QNL_header header;
    QNL_screenInfo screen;
    QNL_rectangle windowPosition;
    int windowBackground = NOT_SET;
    QNL_screenComments comments;
};

// The tree of a network's submodels in a table of slots. Slot 0 always holds the main
// submodel, the root; every other used slot names its parent slot. Handles are slot indexes
// with FLAG added. The handler is valid only while it has its table and its network.
class QNL_submodelHandler : public QNL_object {
public:
    static constexpr int FLAG = 0x4000;
    static constexpr int MAIN_HANDLE = FLAG;
    // Parent markers of the slot table.
    static constexpr int PARENT_OF_MAIN = -8888;
    static constexpr int FREE_SLOT = -8889;
    static constexpr int DEFAULT_GROWTH = 10;

    QNL_submodelHandler();
    QNL_submodelHandler(const QNL_submodelHandler&) = delete;
    QNL_submodelHandler& operator=(const QNL_submodelHandler&) = delete;
    ~QNL_submodelHandler() override = default;

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;

    // Starts over with only the main submodel ("Sub0") for the network given.
    int Init(QNL_network* network);
    // Deletes every submodel and creates the main one anew; nodes in deleted submodels move
    // to the main submodel.
    int Reset();
    int SetNetwork(QNL_network* newNetwork);
    QNL_network* GetNetwork() const { return network; }

    // Creates, deletes and moves submodels; handles carry bit 14.
    int CreateSubmodel(int parentHandle, const char* id);
    int DeleteSubmodel(int handle);
    int SetSubmodel(int submodelHandle, int newParentHandle);
    int IsDescendantOf(int handle, int candidate) const;
    int GetParent(int handle) const;
    QNL_submodel* GetSubmodel(int handle) const;
    int GetFirstSubmodel() const;
    int GetNextSubmodel(int handle) const;
    int FindSubmodel(const char* id) const;
    int IsSubmodelIdUsed(const char* id) const;
    int GetChildSubmodels(int handle, QNL_intArray& out) const;
    int GetNodesOfSubmodel(int handle, QNL_intArray& out) const;
    int GetOrderedSubmodels(QNL_intArray& out) const;
    int GetNumberOfSubmodels() const;
    int GetNumberOfSlots() const { return static_cast<int>(slots.size()); }

    // Copies the tree and both default screen informations; the network pointer is left
    // empty for the copying network to set.
    int Assign(const QNL_submodelHandler& source);

    // "Sub" and the number, counted up until no submodel bears it.
    std::string MakeSubmodelId(int number) const;

    // The screen information new nodes and submodels start from.
    QNL_screenInfo& GetDefaultNodeScreenInfo() { return defaultNodeScreen; }
    QNL_screenInfo& GetDefaultSubmodelScreenInfo() { return defaultSubmodelScreen; }

private:
    struct Slot {
        std::unique_ptr<QNL_submodel> submodel;
        int parent = FREE_SLOT;
    };

    // Slot index of a handle when it names a used slot, else -1.
    int UsedSlot(int handle) const;
    int FindSlotById(const char* id) const;
    int CreateMainSubmodel();
    void MoveNodes(int fromSlot, int toSlot);
    // Forgets the identifier index and the free-slot hint after the table changed wholesale.
    void ForgetIndex();

    static constexpr std::uint64_t NO_INDEX = ~std::uint64_t{0};

    // Empty only after a clean-up; Init gives it at least the main submodel's slot.
    std::vector<Slot> slots;
    QNL_network* network = nullptr;
    int growth = DEFAULT_GROWTH;
    QNL_screenInfo defaultNodeScreen;
    QNL_screenInfo defaultSubmodelScreen;
    // Identifier -> first slot bearing it, current while no header identifier changed since
    // it was built (headers are public, so a submodel can be renamed behind our back).
    mutable std::unordered_map<std::string, int> slotOfId;
    mutable std::uint64_t indexedAt = NO_INDEX;
    // Every slot below it is used.
    int firstFreeHint = 0;
};
