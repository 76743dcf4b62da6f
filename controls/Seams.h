// The custom controls' test seams. A control that makes a system call a test must be able
// to replace (the mouse, the shell, a GDI transfer, the class registration) keeps every
// such call in one struct of its own, `Seams`, whose defaults are the program's own
// behaviour: the program never installs another set. A test installs a whole set through
// a SeamScope, which puts back the set it found when it ends, so what one test chose
// never reaches the next; `Control::InstallSeams({})` brings back the defaults.
#pragma once

namespace telvio {

// `Control` has a `Seams` struct and `static Seams InstallSeams(const Seams&)`, which
// returns the set it replaced.
template <typename Control>
class SeamScope {
  public:
    using Seams = typename Control::Seams;

    explicit SeamScope(const Seams& seams) : previous_(Control::InstallSeams(seams)) {}
    ~SeamScope() { Control::InstallSeams(previous_); }
    SeamScope(const SeamScope&) = delete;
    SeamScope& operator=(const SeamScope&) = delete;

  private:
    Seams previous_;
};

}  // namespace telvio
