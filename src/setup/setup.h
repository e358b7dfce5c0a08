// The question-and-answer setup of the two printer slots.
#pragma once

#include <string>

void runSetup();

// True for the answers that end a yes/no question (Y, YES, N, NO in any case).
bool isYesNoAnswer(const std::string& answer);
bool isYesAnswer(const std::string& answer);

// True for a font size the setup accepts: above 4 and at most 48 points.
bool isFontSizeAnswer(const std::string& answer);
