#pragma once

class QNL_network;

// The stochastic belief-updating algorithms of a discrete Bayesian network: logic sampling
// (identifier 1), likelihood weighting (3 and 5), importance sampling with tables re-estimated
// every 100 samples (4) and backward sampling (6). Each reduces the network, gives one-record
// components their own table, samples the rest with the network's number of samples from the
// stochastic samplers' generator and writes the estimates into the node values.
//
// Each returns 0, or -5 when some component got no useful sample: its nodes without evidence
// are then marked not valid (other components are still written). A failing reduction
// returns its own code.
int RunLogicSampling(QNL_network& network);
int RunLikelihoodWeighting(QNL_network& network);
int RunImportanceSampling(QNL_network& network);
int RunBackwardSampling(QNL_network& network);
