#include "model/error_handler.h"
#include "model/network.h"
#include "model/parameter_blocks.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

QNL_episParams Epis(const std::function<void(QNL_episParams&)>& change) {
    QNL_episParams params;
    change(params);
    return params;
}

QNL_annealedMapTuning Tuning(const std::function<void(QNL_annealedMapTuning&)>& change) {
    QNL_annealedMapTuning tuning;
    change(tuning);
    return tuning;
}

TEST(ParameterBlocks, NewNetworkHoldsTheDefaults) {
    QNL_network net;
    const QNL_episParams& epis = net.GetEpisParams();
    EXPECT_EQ(epis.proplen, 5);
    EXPECT_EQ(epis.numstates1, 5);
    EXPECT_EQ(epis.numstates2, 8);
    EXPECT_EQ(epis.numstates3, 20);
    EXPECT_EQ(epis.eps1, 0.006);
    EXPECT_EQ(epis.eps2, 0.0001);
    EXPECT_EQ(epis.eps3, 0.00005);
    EXPECT_EQ(epis.eps4, 0.00005);
    EXPECT_TRUE(epis.IsValid());

    const QNL_annealedMapTuning& tuning = net.GetAnnealedMapTuning();
    EXPECT_EQ(tuning.speed, 0.8);
    EXPECT_EQ(tuning.Tmin, 0.001);
    EXPECT_EQ(tuning.Tinit, 0.99);
    EXPECT_EQ(tuning.kReheat, 0.1);
    EXPECT_EQ(tuning.kMAP, 0);
    EXPECT_EQ(tuning.kRFC, 0.0);
    EXPECT_EQ(tuning.numCycle, 1);
    EXPECT_EQ(tuning.iReheatSteps, 10);
    EXPECT_EQ(tuning.iStopSteps, 20);
    EXPECT_TRUE(tuning.IsValid());
}

TEST(ParameterBlocks, SetDefaultsRestoresEveryRuledFieldButKeepsKmapAndKrfc) {
    QNL_episParams epis = Epis([](QNL_episParams& p) {
        p.proplen = 2;
        p.eps4 = 0.5;
    });
    EXPECT_NE(epis, QNL_episParams());
    epis.SetDefaults();
    EXPECT_EQ(epis, QNL_episParams());
    for (int field = 0; field < 8; ++field) {
        QNL_episParams other;
        double* doubles[] = {&other.eps1, &other.eps2, &other.eps3, &other.eps4};
        int* ints[] = {&other.proplen, &other.numstates1, &other.numstates2, &other.numstates3};
        if (field < 4)
            *ints[field] += 1;
        else
            *doubles[field - 4] *= 2;
        EXPECT_FALSE(other == QNL_episParams()) << field;
    }

    QNL_annealedMapTuning tuning = Tuning([](QNL_annealedMapTuning& t) {
        t.speed = 0.6;
        t.Tmin = 0.5;
        t.Tinit = 3;
        t.kReheat = 2;
        t.kMAP = 7;
        t.kRFC = 0.25;
        t.numCycle = 4;
        t.iReheatSteps = 3;
        t.iStopSteps = 3;
    });
    tuning.SetDefaults();
    EXPECT_EQ(tuning.speed, 0.8);
    EXPECT_EQ(tuning.Tmin, 0.001);
    EXPECT_EQ(tuning.Tinit, 0.99);
    EXPECT_EQ(tuning.kReheat, 0.1);
    EXPECT_EQ(tuning.numCycle, 1);
    EXPECT_EQ(tuning.iReheatSteps, 10);
    EXPECT_EQ(tuning.iStopSteps, 20);
    EXPECT_EQ(tuning.kMAP, 7);
    EXPECT_EQ(tuning.kRFC, 0.25);
}

TEST(ParameterBlocks, SamplerParametersFollowTheirRules) {
    struct Case {
        const char* what;
        std::function<void(QNL_episParams&)> change;
        bool accepted;
    } cases[] = {
        {"proplen 0", [](QNL_episParams& p) { p.proplen = 0; }, false},
        {"proplen 1", [](QNL_episParams& p) { p.proplen = 1; }, true},
        {"numstates1 = numstates2", [](QNL_episParams& p) { p.numstates1 = 8; }, false},
        {"numstates1 > numstates2", [](QNL_episParams& p) { p.numstates1 = 9; }, false},
        {"numstates2 = numstates3", [](QNL_episParams& p) { p.numstates2 = 20; }, false},
        {"numstates below zero", [](QNL_episParams& p) { p.numstates1 = -3; }, true},
        {"eps1 = eps2 = eps3", [](QNL_episParams& p) { p.eps1 = p.eps2 = p.eps3 = 0.001; }, true},
        {"eps1 < eps2", [](QNL_episParams& p) { p.eps1 = 0.00009; }, false},
        {"eps2 < eps3", [](QNL_episParams& p) { p.eps2 = 0.00004; }, false},
        {"eps4 above eps1", [](QNL_episParams& p) { p.eps4 = 0.5; }, true},
        {"eps2 NaN", [](QNL_episParams& p) { p.eps2 = NaN; }, false},
        {"eps4 NaN", [](QNL_episParams& p) { p.eps4 = NaN; }, false},
        {"eps1 infinite", [](QNL_episParams& p) { p.eps1 = Inf; }, false},
    };
    for (const Case& c : cases) {
        QNL_network net;
        QNL_episParams params = Epis(c.change);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(params.IsValid(), c.accepted) << c.what;
        EXPECT_EQ(net.SetEpisParams(params), c.accepted ? 0 : -2) << c.what;
        // A refusal leaves the network's copy as it was and logs nothing.
        EXPECT_EQ(net.GetEpisParams() == params, c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(net.GetEpisParams(), QNL_episParams()) << c.what;
        }
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << c.what;
    }
}

TEST(ParameterBlocks, AnnealingTuningFollowsItsRules) {
    struct Case {
        const char* what;
        std::function<void(QNL_annealedMapTuning&)> change;
        bool accepted;
    } cases[] = {
        {"speed 0.99", [](QNL_annealedMapTuning& t) { t.speed = 0.99; }, true},
        {"speed 0.5", [](QNL_annealedMapTuning& t) { t.speed = 0.5; }, true},
        {"speed 0.995", [](QNL_annealedMapTuning& t) { t.speed = 0.995; }, false},
        {"speed 0.49", [](QNL_annealedMapTuning& t) { t.speed = 0.49; }, false},
        {"speed NaN", [](QNL_annealedMapTuning& t) { t.speed = NaN; }, false},
        {"Tmin 0", [](QNL_annealedMapTuning& t) { t.Tmin = 0; }, false},
        {"Tinit = Tmin", [](QNL_annealedMapTuning& t) { t.Tinit = t.Tmin; }, false},
        {"Tinit below Tmin", [](QNL_annealedMapTuning& t) { t.Tmin = 1.0; }, false},
        {"Tinit infinite", [](QNL_annealedMapTuning& t) { t.Tinit = Inf; }, false},
        {"Tinit NaN", [](QNL_annealedMapTuning& t) { t.Tinit = NaN; }, false},
        {"kReheat 0", [](QNL_annealedMapTuning& t) { t.kReheat = 0; }, false},
        {"kReheat tiny", [](QNL_annealedMapTuning& t) { t.kReheat = 1e-300; }, true},
        {"numCycle 0", [](QNL_annealedMapTuning& t) { t.numCycle = 0; }, false},
        {"iReheatSteps 0", [](QNL_annealedMapTuning& t) { t.iReheatSteps = t.iStopSteps = 0; },
         false},
        {"iStopSteps = iReheatSteps", [](QNL_annealedMapTuning& t) { t.iStopSteps = 10; }, true},
        {"iStopSteps < iReheatSteps", [](QNL_annealedMapTuning& t) { t.iStopSteps = 9; }, false},
        {"kMAP and kRFC unruled",
         [](QNL_annealedMapTuning& t) {
             t.kMAP = -4;
             t.kRFC = -1e9;
         },
         true},
    };
    for (const Case& c : cases) {
        QNL_network net;
        QNL_annealedMapTuning tuning = Tuning(c.change);
        QNL_errorHandler::Instance().Flush();
        EXPECT_EQ(tuning.IsValid(), c.accepted) << c.what;
        EXPECT_EQ(net.SetAnnealedMapTuning(tuning), c.accepted ? 0 : -2) << c.what;
        const QNL_annealedMapTuning& held = net.GetAnnealedMapTuning();
        const QNL_annealedMapTuning expected = c.accepted ? tuning : QNL_annealedMapTuning();
        EXPECT_EQ(held.Tmin, expected.Tmin) << c.what;
        EXPECT_EQ(held.iStopSteps, expected.iStopSteps) << c.what;
        EXPECT_EQ(held.kMAP, expected.kMAP) << c.what;
        EXPECT_EQ(held.kRFC, expected.kRFC) << c.what;
        EXPECT_EQ(QNL_errorHandler::Instance().GetNumberOfErrors(), 0) << c.what;
    }
}

TEST(ParameterBlocks, CopiesOfANetworkCarryBothBlocks) {
    QNL_network source;
    QNL_episParams epis;
    epis.proplen = 3;
    epis.eps4 = 0.125;
    ASSERT_EQ(source.SetEpisParams(epis), 0);
    QNL_annealedMapTuning tuning;
    tuning.speed = 0.7;
    tuning.kMAP = 12;
    tuning.kRFC = 0.75;
    ASSERT_EQ(source.SetAnnealedMapTuning(tuning), 0);

    QNL_network copied(source);
    QNL_network assigned;
    ASSERT_EQ(assigned.Copy(source), 0);
    QNL_network working;
    ASSERT_EQ(working.CopyNodes(source), 0);
    for (const QNL_network* net : {&copied, &assigned, &working}) {
        EXPECT_EQ(net->GetEpisParams(), epis);
        EXPECT_EQ(net->GetAnnealedMapTuning().speed, 0.7);
        EXPECT_EQ(net->GetAnnealedMapTuning().kMAP, 12);
        EXPECT_EQ(net->GetAnnealedMapTuning().kRFC, 0.75);
    }
}

} // namespace
