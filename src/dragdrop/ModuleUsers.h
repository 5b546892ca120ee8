#pragma once

namespace dragdrop {

// Start-ups of a module nest: only the first does the work and only the
// matching last shut-down undoes it. A shut-down without a start-up is ignored.
class TModuleUsers {
public:
  bool First() { return FCount++ == 0; }
  bool Last() { return FCount > 0 && --FCount == 0; }

private:
  int FCount = 0;
};

} // namespace dragdrop
