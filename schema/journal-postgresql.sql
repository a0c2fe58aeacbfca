-- Labrosa correction journal and bulletin archive, PostgreSQL flavour. Applied to every
-- database the tool creates and by `labrosa-dbtool --upgrade` to an existing one; safe to
-- apply again. The program's role gets INSERT and SELECT only (see the README).
-- Times are UTC.

CREATE TABLE IF NOT EXISTS CORRECTION_JOURNAL (
    id BIGSERIAL PRIMARY KEY,
    resultID INTEGER NOT NULL,
    RequestID VARCHAR(50),
    field VARCHAR(30) NOT NULL,
    oldValue TEXT,
    newValue TEXT,
    changedAt TIMESTAMP NOT NULL,
    userName VARCHAR(100) NOT NULL,
    workstation VARCHAR(255) NOT NULL
);

CREATE INDEX IF NOT EXISTS IX_CORRECTION_JOURNAL_result ON CORRECTION_JOURNAL (resultID);
CREATE INDEX IF NOT EXISTS IX_CORRECTION_JOURNAL_request ON CORRECTION_JOURNAL (RequestID);

CREATE TABLE IF NOT EXISTS BULLETIN_ARCHIVE (
    id BIGSERIAL PRIMARY KEY,
    resultID INTEGER NOT NULL,
    RequestID VARCHAR(50) NOT NULL,
    madeAt TIMESTAMP NOT NULL,
    userName VARCHAR(100) NOT NULL,
    workstation VARCHAR(255) NOT NULL,
    contentHash CHAR(64) NOT NULL,
    content BYTEA NOT NULL
);

CREATE INDEX IF NOT EXISTS IX_BULLETIN_ARCHIVE_request ON BULLETIN_ARCHIVE (RequestID);
