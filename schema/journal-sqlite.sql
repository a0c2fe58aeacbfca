-- Labrosa correction journal and bulletin archive, SQLite flavour. Applied to every database
-- the tool creates and by `labrosa-dbtool --upgrade` to an existing one; safe to apply again.
-- Rows are only ever inserted: triggers refuse to change or remove them.
-- Times are UTC, stored as text 'YYYY-MM-DD HH:MM:SS'.

CREATE TABLE IF NOT EXISTS CORRECTION_JOURNAL (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    resultID INTEGER NOT NULL,
    RequestID VARCHAR(50),
    field VARCHAR(30) NOT NULL,
    oldValue TEXT,
    newValue TEXT,
    changedAt TIMESTAMP NOT NULL,
    userName VARCHAR(100) NOT NULL,
    workstation VARCHAR(255) NOT NULL,
    reason TEXT,
    correctionMark VARCHAR(36)
);

CREATE INDEX IF NOT EXISTS IX_CORRECTION_JOURNAL_result ON CORRECTION_JOURNAL (resultID);
CREATE INDEX IF NOT EXISTS IX_CORRECTION_JOURNAL_request ON CORRECTION_JOURNAL (RequestID);

CREATE TABLE IF NOT EXISTS BULLETIN_ARCHIVE (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    resultID INTEGER NOT NULL,
    RequestID VARCHAR(50) NOT NULL,
    madeAt TIMESTAMP NOT NULL,
    userName VARCHAR(100) NOT NULL,
    workstation VARCHAR(255) NOT NULL,
    contentHash CHAR(64) NOT NULL,
    content BLOB NOT NULL,
    TransDay VARCHAR(10),
    purpose VARCHAR(20)
);

CREATE INDEX IF NOT EXISTS IX_BULLETIN_ARCHIVE_request ON BULLETIN_ARCHIVE (RequestID);

-- The laboratory's signatories: who may validate a bulletin. Rows are never removed; one who
-- leaves is made inactive, so that old validations keep their name.
CREATE TABLE IF NOT EXISTS SIGNATORIES (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
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
    id INTEGER PRIMARY KEY AUTOINCREMENT,
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
    contentRevision INTEGER,
    referenceRevision INTEGER
);

CREATE INDEX IF NOT EXISTS IX_BULLETIN_VALIDATION_request ON BULLETIN_VALIDATION (RequestID);

-- Signing passwords: a signatory validates with a password of their own, kept only as an
-- Argon2id hash (libsodium's string form, salt and cost included). SIGNING_ATTEMPTS keeps every
-- password checked (accepted 1 or 0); five wrong ones in a row lock the signatory for 15
-- minutes after the last.
CREATE TABLE IF NOT EXISTS SIGNATORY_PASSWORDS (
    userName VARCHAR(100) PRIMARY KEY,
    passwordHash TEXT NOT NULL,
    setAt TIMESTAMP NOT NULL
);

CREATE TABLE IF NOT EXISTS SIGNING_ATTEMPTS (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    userName VARCHAR(100) NOT NULL,
    attemptedAt TIMESTAMP NOT NULL,
    accepted INTEGER NOT NULL,
    workstation VARCHAR(255) NOT NULL
);

CREATE INDEX IF NOT EXISTS IX_SIGNING_ATTEMPTS_user ON SIGNING_ATTEMPTS (userName, attemptedAt);

-- How many times the content of each bulletin (RequestID, TransDay) has changed, counted by
-- triggers on the result tables whoever writes them; the row ('', '') counts the changes of
-- what every bulletin shows beside its values (intervals, critical limits, names, units).
-- A missing row counts 0. The counters only ever grow. Texts without a length: the triggers
-- must never refuse another program's set, whatever identifier it carries.
CREATE TABLE IF NOT EXISTS CONTENT_REVISIONS (
    RequestID TEXT NOT NULL,
    TransDay TEXT NOT NULL,
    revision INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (RequestID, TransDay)
);

CREATE TRIGGER IF NOT EXISTS CORRECTION_JOURNAL_no_update BEFORE UPDATE ON CORRECTION_JOURNAL
BEGIN SELECT RAISE(ABORT, 'the correction journal is kept as written'); END;

CREATE TRIGGER IF NOT EXISTS CORRECTION_JOURNAL_no_delete BEFORE DELETE ON CORRECTION_JOURNAL
BEGIN SELECT RAISE(ABORT, 'the correction journal is kept as written'); END;

CREATE TRIGGER IF NOT EXISTS BULLETIN_ARCHIVE_no_update BEFORE UPDATE ON BULLETIN_ARCHIVE
BEGIN SELECT RAISE(ABORT, 'the bulletin archive is kept as written'); END;

CREATE TRIGGER IF NOT EXISTS BULLETIN_ARCHIVE_no_delete BEFORE DELETE ON BULLETIN_ARCHIVE
BEGIN SELECT RAISE(ABORT, 'the bulletin archive is kept as written'); END;

CREATE TRIGGER IF NOT EXISTS BULLETIN_VALIDATION_no_update BEFORE UPDATE ON BULLETIN_VALIDATION
BEGIN SELECT RAISE(ABORT, 'the validations are kept as written'); END;

CREATE TRIGGER IF NOT EXISTS BULLETIN_VALIDATION_no_delete BEFORE DELETE ON BULLETIN_VALIDATION
BEGIN SELECT RAISE(ABORT, 'the validations are kept as written'); END;

CREATE TRIGGER IF NOT EXISTS SIGNATORIES_no_delete BEFORE DELETE ON SIGNATORIES
BEGIN SELECT RAISE(ABORT, 'a signatory is made inactive, never removed'); END;

CREATE TRIGGER IF NOT EXISTS SIGNING_ATTEMPTS_no_update BEFORE UPDATE ON SIGNING_ATTEMPTS
BEGIN SELECT RAISE(ABORT, 'the signing attempts are kept as written'); END;

CREATE TRIGGER IF NOT EXISTS SIGNING_ATTEMPTS_no_delete BEFORE DELETE ON SIGNING_ATTEMPTS
BEGIN SELECT RAISE(ABORT, 'the signing attempts are kept as written'); END;

-- The largest plausible change of a parameter between two consecutive sets of one patient, in
-- the parameter's unit and in percent of the earlier value; either may be left out. Empty
-- unless the laboratory fills it (labrosa-dbtool --delta-limit).
CREATE TABLE IF NOT EXISTS PARAMETER_DELTA_LIMITS (
    MachineID INTEGER NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    maxChange REAL CHECK (maxChange >= 0),
    maxChangePercent REAL CHECK (maxChangePercent >= 0),
    PRIMARY KEY (MachineID, refcode)
);
-- Critical limits: per profile, parameter and sex (NULL: either; a row of the set's own sex
-- wins, as for the reference intervals), an optional low and high kept as text like
-- minValue/maxValue. Kept with labrosa-dbtool; empty by default.
CREATE TABLE IF NOT EXISTS CRITICAL_VALUES (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    profileID SMALLINT NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    sex VARCHAR(10),
    criticalLow VARCHAR(30),
    criticalHigh VARCHAR(30)
);

CREATE INDEX IF NOT EXISTS IX_CRITICAL_VALUES_profile_code ON CRITICAL_VALUES (profileID, refcode);

-- Who was told of a request's critical values and when, with the sets it covered and the
-- values it named (one per line: set, MachineID, code and value as printed, tab-separated;
-- NULL on a row made before values were named, which names none); rows are only
-- ever inserted.
CREATE TABLE IF NOT EXISTS CRITICAL_NOTIFICATIONS (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
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

CREATE TRIGGER IF NOT EXISTS CRITICAL_NOTIFICATIONS_no_update BEFORE UPDATE ON CRITICAL_NOTIFICATIONS
BEGIN SELECT RAISE(ABORT, 'the notifications are kept as written'); END;

CREATE TRIGGER IF NOT EXISTS CRITICAL_NOTIFICATIONS_no_delete BEFORE DELETE ON CRITICAL_NOTIFICATIONS
BEGIN SELECT RAISE(ABORT, 'the notifications are kept as written'); END;

-- Every message the receiver (labrosa-receiver) stored, as it came, so that a set's history can
-- show where it came from. controlId is the message's own id (HL7 MSH-10, ASTM H field 3): a
-- message sent again under the same id by the same analyser is stored once.
CREATE TABLE IF NOT EXISTS RECEIVED_MESSAGES (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    MachineID INTEGER NOT NULL,
    protocol VARCHAR(10) NOT NULL,
    controlId VARCHAR(200),
    receivedAt TIMESTAMP NOT NULL,
    content TEXT NOT NULL
);

CREATE UNIQUE INDEX IF NOT EXISTS UX_RECEIVED_MESSAGES_control ON RECEIVED_MESSAGES (MachineID, controlId);

-- One row per specimen's results in a received message: the set it became (resultID; NULL
-- while the whole set waits in UNMATCHED_RESULTS for its request) and its fingerprint (the
-- analyser, the specimen and the results), so that the same results sent again are stored once.
CREATE TABLE IF NOT EXISTS RECEIVED_SETS (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    messageID INTEGER NOT NULL REFERENCES RECEIVED_MESSAGES (id),
    resultID INTEGER,
    fingerprint CHAR(64) NOT NULL UNIQUE
);

CREATE INDEX IF NOT EXISTS IX_RECEIVED_SETS_result ON RECEIVED_SETS (resultID);

-- Received results that could not be put into a set: a code the analyser's PARAMETERS do not
-- know (reason 'parameter'; resultID is the set the specimen's other results went into) or a
-- specimen without a request (reason 'specimen'), or a value or request longer than the result
-- tables hold (reason 'length'): nothing is cut to fit. They wait here until a technician maps the
-- code or names the request; then resolvedAt is set and the value is in RESULT_VALUES.
CREATE TABLE IF NOT EXISTS UNMATCHED_RESULTS (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    receivedSetID INTEGER NOT NULL REFERENCES RECEIVED_SETS (id),
    MachineID INTEGER NOT NULL,
    RequestID TEXT,
    PacientName TEXT,
    Age INTEGER,
    SEX VARCHAR(10),
    refcode TEXT NOT NULL,
    stringvalue TEXT NOT NULL,
    reason VARCHAR(20) NOT NULL,
    resultID INTEGER,
    receivedAt TIMESTAMP NOT NULL,
    resolvedAt TIMESTAMP
);

CREATE INDEX IF NOT EXISTS IX_UNMATCHED_RESULTS_open ON UNMATCHED_RESULTS (resolvedAt);

-- What each receiver last said of its analyser's connection, for the program to show.
CREATE TABLE IF NOT EXISTS RECEIVER_STATUS (
    MachineID INTEGER PRIMARY KEY,
    state VARCHAR(20) NOT NULL,
    lastMessageAt TIMESTAMP,
    messages INTEGER NOT NULL DEFAULT 0,
    lastError TEXT,
    lastErrorAt TIMESTAMP,
    updatedAt TIMESTAMP NOT NULL
);

-- An analyser's own code for a parameter that PARAMETERS knows under another (its refcode),
-- as a technician named it for a result that waited: later results with the code go straight in.
CREATE TABLE IF NOT EXISTS PARAMETER_ALIASES (
    MachineID INTEGER NOT NULL,
    code VARCHAR(100) NOT NULL,
    refcode VARCHAR(20) NOT NULL,
    PRIMARY KEY (MachineID, code)
);
