#include "model/submodel.h"

#include "model/error_handler.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int MAIN = QNL_submodelHandler::MAIN_HANDLE;
constexpr int FLAG = QNL_submodelHandler::FLAG;

// Submodels are found by identifier after every kind of change, including renames made
// through a submodel's public header, which the handler is never told of.
TEST(SubmodelLookup, FindsByIdentifierAfterCreationsDeletionsAndRenamesBehindItsBack) {
    QNL_network net;
    QNL_submodelHandler& handler = net.GetSubmodelHandler();
    const int count = 200;
    for (int i = 1; i <= count; ++i) // generated identifiers follow the slot
        ASSERT_EQ(handler.CreateSubmodel(MAIN, nullptr), i + FLAG);
    for (int i = 1; i <= count; ++i)
        ASSERT_EQ(handler.FindSubmodel(("Sub" + std::to_string(i)).c_str()), i + FLAG);

    // A rename frees the old identifier and takes the new one; a base-class rename counts.
    QNL_header& header = handler.GetSubmodel(7 + FLAG)->header;
    ASSERT_EQ(header.SetId("Renamed"), 0);
    EXPECT_EQ(handler.FindSubmodel("Sub7"), -2);
    EXPECT_EQ(handler.FindSubmodel("Renamed"), 7 + FLAG);
    EXPECT_EQ(handler.CreateSubmodel(MAIN, "Renamed"), -2);
    EXPECT_EQ(handler.CreateSubmodel(MAIN, "Sub7"), count + 1 + FLAG);

    // Two submodels renamed alike: the first slot is found, the other once it is gone.
    ASSERT_EQ(handler.GetSubmodel(20 + FLAG)->header.SetId("Twin"), 0);
    ASSERT_EQ(handler.GetSubmodel(10 + FLAG)->header.SetId("Twin"), 0);
    EXPECT_EQ(handler.FindSubmodel("Twin"), 10 + FLAG);
    ASSERT_EQ(handler.DeleteSubmodel(10 + FLAG), 0);
    EXPECT_EQ(handler.FindSubmodel("Twin"), 20 + FLAG);

    // Deleted slots are taken again lowest first, under the first free generated name.
    ASSERT_EQ(handler.DeleteSubmodel(3 + FLAG), 0);
    EXPECT_EQ(handler.FindSubmodel("Sub3"), -2);
    EXPECT_EQ(handler.CreateSubmodel(MAIN, nullptr), 3 + FLAG);
    EXPECT_EQ(handler.FindSubmodel("Sub3"), 3 + FLAG);
    EXPECT_EQ(handler.CreateSubmodel(MAIN, nullptr), 10 + FLAG);
    EXPECT_EQ(handler.FindSubmodel("Sub10"), 10 + FLAG);
    EXPECT_EQ(handler.CreateSubmodel(MAIN, nullptr), count + 2 + FLAG);
    EXPECT_EQ(handler.FindSubmodel(("Sub" + std::to_string(count + 2)).c_str()), count + 2 + FLAG);

    // After a reset only the main submodel is left, and every other name is free again.
    ASSERT_EQ(handler.Reset(), 0);
    EXPECT_EQ(handler.FindSubmodel("Sub5"), -2);
    EXPECT_EQ(handler.CreateSubmodel(MAIN, "Sub5"), 1 + FLAG);
    QNL_errorHandler::Instance().Flush();
}

} // namespace
