// Marks an English text that a program shows to its user, made where no
// translation is at hand (the engine's reasons, the simulator's complaints):
// the text stays English here, the catalogue extractor finds it, and the
// program translates it where it prints it (texts/interface_texts.h, TrText).
// A format marked so is one sentence with its pieces as %s, %d, ...: the
// program recognises the finished English text by its format.
#pragma once

#define N_(english) english
