#pragma once

#include "net/NetClass.h"

// The video-pipeline net: three stages (Video, Canny, Output) sharing a pool of worker threads.
// The free threads are integer tokens of "Execution_thread_pool" read from "marking.xml"; the
// stored frames are Data tokens read from the token database.
class ImplementedNetClass : public NetClass {
 public:
  ImplementedNetClass() = default;
  ~ImplementedNetClass() override = default;

  // Builds the places, transitions, arcs and measure into an empty net and reads the pool's
  // threads from "marking.xml", whose tokens for places the net lacks are warned of on the first
  // build.
  void buildNet() override;
  // Adds the Data tokens of stored marking 1 of the data source "vudi" to their places and keeps
  // them for the runs' rebuilds.
  void createTokens() override;
  // A copy keeping id and creation time, or the same token re-typed; null for a foreign type.
  Ptr<Token> copyToken(Ptr<Token> oldToken) override;
  Ptr<Token> upcastToken(Ptr<Token> token) override;
};
