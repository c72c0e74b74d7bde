// Tells the Bluetooth backends (quillbt:, quillble:) where each page ends, so
// that they may connect a dropped link again between pages and never within
// one: after a page, the filter asks the backend over CUPS's side channel to
// drain its output. Other backends are not asked.
#pragma once

void AnnouncePageEnd();
