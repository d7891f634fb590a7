#pragma once

#include <vector>

#include "net/NetClass.h"
#include "net/Token_int.h"

// The video-pipeline net: three stages (Video, Canny, Output) sharing a pool of worker threads.
// The free threads are integer tokens of "Execution_thread_pool" read from "marking.xml"; the
// stored frames are Data tokens read from the token database.
class ImplementedNetClass : public NetClass {
 public:
  ImplementedNetClass() = default;
  ~ImplementedNetClass() override = default;

  // Builds the places, transitions, arcs and measure into an empty net and gives the pool its
  // threads from "marking.xml", which the first build reads, warning of its tokens for places the
  // net lacks, and later ones take again.
  void buildNet() override;
  // Adds the Data tokens of stored marking 1 of the data source "vudi" to their places and keeps
  // them for the runs' rebuilds.
  void createTokens() override;
  // A copy keeping id and creation time, or the same token re-typed; null for a foreign type.
  Ptr<Token> copyToken(Ptr<Token> oldToken) override;
  Ptr<Token> upcastToken(Ptr<Token> token) override;

 private:
  std::vector<Token_int::Initial> markingFile;
  bool markingFileRead = false;
};
