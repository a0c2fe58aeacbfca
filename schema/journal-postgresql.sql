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
    workstation VARCHAR(255) NOT NULL,
    reason TEXT
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
    content BYTEA NOT NULL,
    TransDay VARCHAR(10),
    purpose VARCHAR(20)
);

CREATE INDEX IF NOT EXISTS IX_BULLETIN_ARCHIVE_request ON BULLETIN_ARCHIVE (RequestID);

-- The laboratory's signatories: who may validate a bulletin. Rows are never removed; one who
-- leaves is made inactive, so that old validations keep their name.
CREATE TABLE IF NOT EXISTS SIGNATORIES (
    id BIGSERIAL PRIMARY KEY,
    userName VARCHAR(100) NOT NULL UNIQUE,
    fullName VARCHAR(200) NOT NULL,
    title VARCHAR(100) NOT NULL,
    active INTEGER NOT NULL DEFAULT 1
);

-- One row per validation (release) of a bulletin (a request's sets of one transfer day,
-- TransDay 'YYYY-MM-DD'), written in the transaction of the bulletin's archive row; the
-- signatory's name and title are kept as printed. signedContent is the bulletin's clinical
-- content in its canonical form and fingerprint its SHA-256: the validation holds exactly as
-- long as today's content has the same fingerprint. contentRevision and referenceRevision are
-- the CONTENT_REVISIONS counters read before the content, a cheap sign that nothing changed.
CREATE TABLE IF NOT EXISTS BULLETIN_VALIDATION (
    id BIGSERIAL PRIMARY KEY,
    RequestID VARCHAR(50) NOT NULL,
    resultIDs TEXT NOT NULL,
    contentHash CHAR(64) NOT NULL,
    validatedAt TIMESTAMP NOT NULL,
    userName VARCHAR(100) NOT NULL,
    workstation VARCHAR(255) NOT NULL,
    fullName VARCHAR(200) NOT NULL,
    title VARCHAR(100) NOT NULL,
    TransDay VARCHAR(10),
    fingerprint CHAR(64),
    signedContent TEXT,
    contentRevision BIGINT,
    referenceRevision BIGINT
);

CREATE INDEX IF NOT EXISTS IX_BULLETIN_VALIDATION_request ON BULLETIN_VALIDATION (RequestID);

-- How many times the content of each bulletin (RequestID, TransDay) has changed, counted by
-- triggers on the result tables whoever writes them; the row ('', '') counts the changes of
-- what every bulletin shows beside its values (intervals, critical limits, names, units).
-- A missing row counts 0. The counters only ever grow.
CREATE TABLE IF NOT EXISTS CONTENT_REVISIONS (
    RequestID VARCHAR(50) NOT NULL,
    TransDay VARCHAR(10) NOT NULL,
    revision BIGINT NOT NULL DEFAULT 0,
    PRIMARY KEY (RequestID, TransDay)
);

-- The largest plausible change of a parameter between two consecutive sets of one patient, in
-- the parameter's unit and in percent of the earlier value; either may be left out. Empty
-- unless the laboratory fills it (labrosa-dbtool --delta-limit).
CREATE TABLE IF NOT EXISTS PARAMETER_DELTA_LIMITS (
    MachineID INTEGER NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    maxChange DOUBLE PRECISION CHECK (maxChange >= 0),
    maxChangePercent DOUBLE PRECISION CHECK (maxChangePercent >= 0),
    PRIMARY KEY (MachineID, refcode)
);
-- Critical limits: per profile, parameter and sex (NULL: either; a row of the set's own sex
-- wins, as for the reference intervals), an optional low and high kept as text like
-- minValue/maxValue. Kept with labrosa-dbtool; empty by default.
CREATE TABLE IF NOT EXISTS CRITICAL_VALUES (
    id BIGSERIAL PRIMARY KEY,
    profileID SMALLINT NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    sex VARCHAR(10),
    criticalLow VARCHAR(30),
    criticalHigh VARCHAR(30)
);

CREATE INDEX IF NOT EXISTS IX_CRITICAL_VALUES_profile_code ON CRITICAL_VALUES (profileID, refcode);

-- Who was told of a request's critical values and when, with the sets it covered and the
-- values it named (one per line: set, MachineID, code and value as printed, tab-separated;
-- NULL on a row made before values were named, which names none); the program's
-- role only adds and reads rows.
CREATE TABLE IF NOT EXISTS CRITICAL_NOTIFICATIONS (
    id BIGSERIAL PRIMARY KEY,
    RequestID VARCHAR(50) NOT NULL,
    resultIDs TEXT NOT NULL,
    toldName VARCHAR(200) NOT NULL,
    toldContact VARCHAR(200) NOT NULL,
    toldAt TIMESTAMP NOT NULL,
    recordedAt TIMESTAMP NOT NULL,
    userName VARCHAR(100) NOT NULL,
    workstation VARCHAR(255) NOT NULL,
    toldValues TEXT
);

CREATE INDEX IF NOT EXISTS IX_CRITICAL_NOTIFICATIONS_request ON CRITICAL_NOTIFICATIONS (RequestID);
