#pragma once

class DatabaseConnection;
class DocumentTemplate;

// The application-wide state, written once at start-up and read by the views.
class SharedState {
public:
    SharedState() = default;
    virtual ~SharedState();

    DatabaseConnection* m_database = nullptr;       // not owned
    DocumentTemplate* m_listTemplate = nullptr;     // results list, resource 130
    DocumentTemplate* m_bulletinTemplate = nullptr; // bulletin, resource 129
};
