// How far a long pass over many entries has come, and whether to go on.
#pragma once

#include <cstdint>
#include <string_view>

namespace vemlo {

// A pass calls step() before each entry and stops before that entry once it
// returns false. Between looks a step costs a decrement: the watcher is asked
// only every stride-th step, so passes of cheap entries pay next to nothing.
// The base class watches nothing and never stops.
class Progress {
public:
    virtual ~Progress() = default;

    // The number of entries the pass will hand in; 0 when not known.
    virtual void begin(int64_t total) { (void)total; }

    // done entries are finished and name is the one in hand; false once the
    // user has asked to stop.
    bool step(int64_t done, std::string_view name)
    {
        if (--countdown_ > 0)
            return !stopped_;
        countdown_ = stride_;
        if (!stopped_ && !look(done, name))
            stopped_ = true;
        return !stopped_;
    }
    // The same, with the name made only when the watcher looks: nameOf()
    // gives it.
    template <class NameOf>
    bool stepLazy(int64_t done, const NameOf& nameOf)
    {
        if (--countdown_ > 0)
            return !stopped_;
        countdown_ = stride_;
        if (!stopped_ && !look(done, nameOf()))
            stopped_ = true;
        return !stopped_;
    }
    // For work between entries that cannot stop (a sort): lets the watcher
    // keep the window alive.
    void tick()
    {
        if (--countdown_ > 0)
            return;
        countdown_ = stride_;
        if (!stopped_ && !look(-1, {}))
            stopped_ = true;
    }
    // Asks the watcher at once, whatever the stride: for waiting on work
    // done elsewhere (done -1: no change). False once the user has asked to stop.
    bool lookNow(int64_t done = -1)
    {
        if (!stopped_ && !look(done, {}))
            stopped_ = true;
        return !stopped_;
    }
    bool stopped() const { return stopped_; }

    // The watcher of passes that are not watched.
    static Progress& none()
    {
        static thread_local Progress quiet;
        return quiet;
    }

protected:
    // Asked every stride-th step (done is -1 from tick()); false stops the pass.
    virtual bool look(int64_t done, std::string_view name)
    {
        (void)done, (void)name;
        return true;
    }
    void setStride(int stride) { stride_ = countdown_ = stride > 0 ? stride : 1; }
    // For a watcher that hands its looks on to another.
    static bool lookOf(Progress& other, int64_t done, std::string_view name)
    {
        return other.look(done, name);
    }

private:
    int stride_ = 1 << 30;
    int countdown_ = 1 << 30;
    bool stopped_ = false;
};

inline Progress& watched(Progress* p) { return p ? *p : Progress::none(); }

}  // namespace vemlo
