// Placeholder so the library builds before its sources land; remove once it has real sources.
