// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "status.h"

#include <string>
#include <vector>

namespace torvak {

// Runs the steps of a port sequence the way the port dialogs always have: a
// failing step is remembered and skipped, the sequence goes on, and one check
// at the end sees a failure of any earlier step.
class ResumeNext {
public:
    // One step; its failure is remembered.
    void run(const Status& step)
    {
        if (!step)
            failures_.push_back(step.reason());
    }

    bool failed() const { return !failures_.empty(); }

    // Every failure of the sequence, in order, for the log.
    const std::vector<std::string>& failures() const { return failures_; }

private:
    std::vector<std::string> failures_;
};

} // namespace torvak
