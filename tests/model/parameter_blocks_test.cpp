#include "model/error_handler.h"
#include "model/network.h"
#include "model/parameter_blocks.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();
using Epis = QNL_episParams;
using Tuning = QNL_annealedMapTuning;

template <class Block> struct Rule {
    const char* what;
    std::function<void(Block&)> change;
    bool accepted;
};

std::vector<double> Fields(const Tuning& t) {
    return {t.speed,
            t.Tmin,
            t.Tinit,
            t.kReheat,
            double(t.kMAP),
            t.kRFC,
            double(t.numCycle),
            double(t.iReheatSteps),
            double(t.iStopSteps)};
}
std::vector<double> Fields(const Epis& p) {
    return {double(p.proplen),
            double(p.numstates1),
            double(p.numstates2),
            double(p.numstates3),
            p.eps1,
            p.eps2,
            p.eps3,
            p.eps4};
}

// A refused block leaves the network's copy at the defaults and logs nothing.
template <class Block, class Set, class Get>
void CheckRules(const std::vector<Rule<Block>>& rules, Set set, Get get) {
    for (const Rule<Block>& rule : rules) {
        QNL_network net;
        Block block;
        rule.change(block);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(block.IsValid(), rule.accepted) << rule.what;
        EXPECT_EQ((net.*set)(block), rule.accepted ? 0 : -2) << rule.what;
        EXPECT_EQ(Fields((net.*get)()), Fields(rule.accepted ? block : Block())) << rule.what;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << rule.what;
    }
}

TEST(ParameterBlocks, SamplerParametersFollowTheirRules) {
    CheckRules<Epis>(
        {
            {"proplen 0", [](Epis& p) { p.proplen = 0; }, false},
            {"proplen 1", [](Epis& p) { p.proplen = 1; }, true},
            {"numstates1 = numstates2", [](Epis& p) { p.numstates1 = 8; }, false},
            {"numstates1 > numstates2", [](Epis& p) { p.numstates1 = 9; }, false},
            {"numstates2 = numstates3", [](Epis& p) { p.numstates2 = 20; }, false},
            {"numstates below zero", [](Epis& p) { p.numstates1 = -3; }, true},
            {"eps1 = eps2 = eps3", [](Epis& p) { p.eps1 = p.eps2 = p.eps3 = 0.001; }, true},
            {"eps1 < eps2", [](Epis& p) { p.eps1 = 0.00009; }, false},
            {"eps2 < eps3", [](Epis& p) { p.eps2 = 0.00004; }, false},
            {"eps4 above eps1", [](Epis& p) { p.eps4 = 0.5; }, true},
            {"eps2 NaN", [](Epis& p) { p.eps2 = NaN; }, false},
            {"eps4 NaN", [](Epis& p) { p.eps4 = NaN; }, false},
            {"eps1 infinite", [](Epis& p) { p.eps1 = Inf; }, false},
        },
        &QNL_network::SetEpisParams, &QNL_network::GetEpisParams);
}

TEST(ParameterBlocks, AnnealingTuningFollowsItsRules) {
    CheckRules<Tuning>(
        {
            {"speed 0.99", [](Tuning& t) { t.speed = 0.99; }, true},
            {"speed 0.5", [](Tuning& t) { t.speed = 0.5; }, true},
            {"speed 0.995", [](Tuning& t) { t.speed = 0.995; }, false},
            {"speed 0.49", [](Tuning& t) { t.speed = 0.49; }, false},
            {"speed NaN", [](Tuning& t) { t.speed = NaN; }, false},
            {"Tmin 0", [](Tuning& t) { t.Tmin = 0; }, false},
            {"Tinit = Tmin", [](Tuning& t) { t.Tinit = t.Tmin; }, false},
            {"Tinit below Tmin", [](Tuning& t) { t.Tmin = 1.0; }, false},
            {"Tinit infinite", [](Tuning& t) { t.Tinit = Inf; }, false},
            {"Tinit NaN", [](Tuning& t) { t.Tinit = NaN; }, false},
            {"kReheat 0", [](Tuning& t) { t.kReheat = 0; }, false},
            {"kReheat tiny", [](Tuning& t) { t.kReheat = 1e-300; }, true},
            {"numCycle 0", [](Tuning& t) { t.numCycle = 0; }, false},
            {"iReheatSteps 0", [](Tuning& t) { t.iReheatSteps = t.iStopSteps = 0; }, false},
            {"iStopSteps = iReheatSteps", [](Tuning& t) { t.iStopSteps = 10; }, true},
            {"iStopSteps < iReheatSteps", [](Tuning& t) { t.iStopSteps = 9; }, false},
            {"kMAP and kRFC unruled", [](Tuning& t) { t.kMAP = -4, t.kRFC = -1e9; }, true},
        },
        &QNL_network::SetAnnealedMapTuning, &QNL_network::GetAnnealedMapTuning);
}

// SetDefaults keeps kMAP and kRFC; every copy of a network carries both blocks.
TEST(ParameterBlocks, DefaultsAndCopiesOfANetwork) {
    Tuning tuning{0.6, 0.5, 3, 2, 7, 0.25, 4, 3, 3};
    tuning.SetDefaults();
    Tuning expected;
    expected.kMAP = 7, expected.kRFC = 0.25;
    EXPECT_EQ(Fields(tuning), Fields(expected));
    Epis epis;
    epis.proplen = 3, epis.eps4 = 0.125;
    EXPECT_NE(epis, Epis());
    QNL_network source;
    ASSERT_EQ(source.SetEpisParams(epis), 0);
    tuning.speed = 0.7, tuning.kMAP = 12, tuning.kRFC = 0.75;
    ASSERT_EQ(source.SetAnnealedMapTuning(tuning), 0);
    QNL_network copied(source), assigned, working;
    ASSERT_EQ(assigned.Copy(source), 0);
    ASSERT_EQ(working.CopyNodes(source), 0);
    for (const QNL_network* net : {&copied, &assigned, &working}) {
        EXPECT_EQ(Fields(net->GetEpisParams()), Fields(epis));
        EXPECT_EQ(Fields(net->GetAnnealedMapTuning()), Fields(tuning));
    }
    epis.SetDefaults();
    EXPECT_EQ(epis, Epis());
}

} // namespace
