// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracksequence.h"

void TTrackSequence::Start(int items, int first)
{
    m_items = items;
    m_item = 0;
    m_step = first;
    m_stopped = false;
    if (m_items <= 0) {
        if (OnFinished)
            OnFinished();
        return;
    }
    startStep();
}

void TTrackSequence::startStep()
{
    if (m_step < int(m_steps.size()))
        m_steps[size_t(m_step)](m_item);
    else
        StepEnded(true); // an item with nothing to do
}

void TTrackSequence::StepEnded(bool ok)
{
    if (m_stopped || m_item >= m_items)
        return;
    if (ok && m_step + 1 < int(m_steps.size())) {
        ++m_step;
        startStep();
        return;
    }
    const int item = m_item++;
    m_step = 0;
    if (OnItemEnded)
        OnItemEnded(item, ok);
    if (m_stopped)
        return;
    if (m_item >= m_items) {
        if (OnFinished)
            OnFinished();
        return;
    }
    startStep();
}
