#pragma once
// Display updates of a record set suspended for as long as a scope lives, or until released: the
// grids over the set do not repaint row by row during a pass, and get their updates back however
// the pass ends.
#include "data/dataset.h"

class DisplayUpdatesOff
{
public:
    explicit DisplayUpdatesOff(fis::ClientDataSet *set) : m_set(set) { m_set->disableControls(); }
    ~DisplayUpdatesOff() { release(); }
    DisplayUpdatesOff(const DisplayUpdatesOff &) = delete;
    DisplayUpdatesOff &operator=(const DisplayUpdatesOff &) = delete;
    void release()
    {
        if (m_on) {
            m_on = false;
            m_set->enableControls();
        }
    }

private:
    fis::ClientDataSet *m_set;
    bool m_on = true;
};
