// The release tooling's artefacts go to standard output, where a release
// script takes them: one that did not get there is no success.
#pragma once

// Flushes standard output: true when everything printed reached it; false
// after an error line on standard error (a full disk, a closed pipe).
bool StandardOutputWritten();
