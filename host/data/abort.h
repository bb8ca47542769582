#pragma once
// The silent abort: thrown to abandon the whole user action without any further message
// (a refused action has already shown its one message). Record-set operations abandoned by it
// leave the set as it was; the error guard swallows it at the edge of the event loop.
namespace fis {

struct EAbort
{
};

} // namespace fis
