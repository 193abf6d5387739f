#pragma once

#include "common/Context.h"

#include <QWidget>
#include <functional>

namespace jarseal {

// A small window until the full one arrives: an Open button and a panel that
// takes dropped packages.
class MinimalWindow : public QWidget {
  public:
    explicit MinimalWindow(Context& ctx);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // Runs a reaction; a reaction that ends the program leaves the event loop.
    void Guarded(const std::function<void()>& reaction);
    Context& ctx_;
};

// Runs a window reaction; when it ends the program, the event loop is left
// with the run's exit status.
void RunReaction(const std::function<void()>& reaction);

} // namespace jarseal
