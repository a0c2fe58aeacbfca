#pragma once

class CAdoDatabase;
class CDocTemplate;

// The application-wide state, written once at start-up and read by the views.
class StructuraInterna {
public:
    StructuraInterna() = default;
    virtual ~StructuraInterna();

    CAdoDatabase* m_pDatabase = nullptr;         // not owned
    CDocTemplate* m_pListTemplate = nullptr;     // results list, resource 130
    CDocTemplate* m_pBulletinTemplate = nullptr; // bulletin, resource 129
};
