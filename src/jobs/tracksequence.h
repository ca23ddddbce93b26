// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <vector>

// The order of a job's work over its items (a disc's tracks, a list's files): each item's steps one after
// the other, then the next item's. A step is started for an item and reports its end once, with StepEnded;
// a step that failed ends its item there (its later steps are skipped). The job says what each step does,
// what the end of an item means and what the end of the whole does. User-interface thread only.
class TTrackSequence {
public:
    using Step = std::function<void(int item)>;

    // The steps of every item, in order.
    void SetSteps(std::vector<Step> steps) { m_steps = std::move(steps); }
    // Starts the first item at the step `first` (its earlier steps were done elsewhere). An empty list ends
    // at once.
    void Start(int items, int first = 0);
    // The running step ended: the item's next step, or its end and the next item's first step.
    void StepEnded(bool ok);
    // No step starts after this, and no end is told; the running step is the job's to stop.
    void Stop() { m_stopped = true; }

    int Item() const { return m_item; } // the item whose step runs; the count of items once all ended

    std::function<void(int item, bool ok)> OnItemEnded; // every step done (ok) or one failed
    std::function<void()> OnFinished;                   // every item ended

private:
    void startStep();

    std::vector<Step> m_steps;
    int m_items = 0;
    int m_item = 0;
    int m_step = 0;
    bool m_stopped = false;
};
