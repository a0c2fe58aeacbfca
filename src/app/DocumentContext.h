#pragma once

// What a window is opened with beyond its document (the bytes it shows, the commands it
// offers); the view of the window's kind knows the concrete type and takes what it needs.
class DocumentContext {
public:
    virtual ~DocumentContext() = default;
};
