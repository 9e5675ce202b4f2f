// The repository folder's rule, shared by the window and the command line when no folder is
// configured: "repo" beside the executable, or, when that cannot be written or the program is
// installed in a system folder, "repo" in the program's folder of the user's data.
#pragma once

#include <filesystem>
#include <string>

namespace brevis {

// The program's folder in the user's data: $XDG_DATA_HOME/brevisfetch when XDG_DATA_HOME is an
// absolute path, else $HOME/.local/share/brevisfetch; empty when neither is known.
std::filesystem::path UserDataDir();

// The repository folder, without a trailing separator: "repo" in `executable_dir` when that is
// not a system program folder (IsSystemProgramFolder) and a file can be made in it (the folder
// is made when missing); else "repo" in `data_dir`. Throws std::runtime_error ("Cannot write
// <folder>, and no data folder is known: give --repo DIR.") when it comes to an empty
// `data_dir`; only the command line can, as the window's data folder is always known.
std::string DefaultRepoDir(const std::filesystem::path& executable_dir,
                           const std::filesystem::path& data_dir);

}  // namespace brevis
