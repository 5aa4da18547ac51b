#pragma once

// Hook points handed to the stage program's "exec_scripts", as numbers.
enum class Stage : int {
    FirstBlock = 0,
    SecondBlock = 1,
    FakeStage = 4, // no previous stage
};

enum class SubStage : int {
    After = 0,
    Before = 1,
};
