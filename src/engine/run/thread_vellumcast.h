#pragma once
// The thread of one indexing run: walks the tree from options.path depth
// first and writes every folder's catalog pages, posting progress to
// `ownerwindow`. The options are set before Start(); the counters and the
// report are the run's, read by other threads at any time (the report once
// the run has ended).

#include "engine/run/index_options.h"
#include "engine/run/index_run.h"
#include "engine/run/run_report.h"
#include "platform/owner.h"
#include "platform/thread.h"

class TThreadVellumcast : public TThread {
 public:
  TThreadVellumcast() = default;  // created suspended: Start() begins the run
  ~TThreadVellumcast() override;  // waits for the run to end

  TIndexOptions options;                 // written only before Start()
  TOwnerWindow* ownerwindow = nullptr;   // written only before Start()
  TRunCounters counters;
  // What the run could not write and what it left out; complete once the run has ended.
  TRunReport report;

 protected:
  void Execute() override;
};
