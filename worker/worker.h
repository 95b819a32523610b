#pragma once

namespace dawnstep {

// The pool of forked worker processes that activate plugins.
class Worker {
 public:
  // The most workers the pool may hold; negative means no practical limit.
  static void LimitWorkers(int n);
};

}  // namespace dawnstep
