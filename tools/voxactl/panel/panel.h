// `voxactl panel`: serves a page from which a board is watched and driven
// in a browser.
#pragma once

namespace voxactl {

// Parses the whole command line itself (the board options, --sim and the
// panel's own) and serves until Ctrl-C. Returns the exit code.
int RunPanel(int argc, char** argv);

}  // namespace voxactl
