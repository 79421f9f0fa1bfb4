#pragma once

// Registers the shell's images. The gui library is static, so its resources
// are not registered until something asks for them.
void InitShellResources();

// Sets the program's icon for every window and names its desktop entry.
void InstallApplicationIcon();
