#pragma once
// Whether a standard stream is an interactive terminal: prompts are asked only on one, and the
// progress bar is drawn only on one. One implementation per platform.

enum class StandardStream { Input, Error };

bool IsTerminal(StandardStream stream);
