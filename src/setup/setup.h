// The question-and-answer setup of the two printer slots.
#pragma once

void runSetup();
