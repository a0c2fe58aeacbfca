-- Labrosa correction journal and bulletin archive, PostgreSQL flavour. Applied to every
-- database the tool creates and by `labrosa-dbtool --upgrade` to an existing one; safe to
-- apply again. The program's role gets INSERT and SELECT only (see the README), and triggers
-- refuse to change or remove a row whoever asks, the tables' owner included.
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
    reason TEXT,
    correctionMark VARCHAR(36)
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

-- Signing passwords: a signatory validates with a password of their own, kept only as a bcrypt
-- hash made by the server (pgcrypto). The program's role has no right on these two tables: it
-- checks a password, sets one and writes a validation only through the functions below, which
-- run as the tables' owner. SIGNING_ATTEMPTS keeps every password checked (accepted 1 or 0);
-- five wrong ones in a row lock the signatory for 15 minutes after the last.
CREATE EXTENSION IF NOT EXISTS pgcrypto;

CREATE TABLE IF NOT EXISTS SIGNATORY_PASSWORDS (
    userName VARCHAR(100) PRIMARY KEY,
    passwordHash TEXT NOT NULL,
    setAt TIMESTAMP NOT NULL
);

CREATE TABLE IF NOT EXISTS SIGNING_ATTEMPTS (
    id BIGSERIAL PRIMARY KEY,
    userName VARCHAR(100) NOT NULL,
    attemptedAt TIMESTAMP NOT NULL,
    accepted INTEGER NOT NULL,
    workstation VARCHAR(255) NOT NULL
);

CREATE INDEX IF NOT EXISTS IX_SIGNING_ATTEMPTS_user ON SIGNING_ATTEMPTS (userName, attemptedAt);

-- Each function stands on one line: the tool splits this file at lines that end in a semicolon.
-- The end of a signatory's lock (UTC), NULL when the last five attempts were not all wrong or the lock is over.
CREATE OR REPLACE FUNCTION labrosa_signing_lock(p_user VARCHAR) RETURNS TIMESTAMP LANGUAGE plpgsql STABLE SET search_path = pg_catalog, public AS $$ BEGIN RETURN (SELECT CASE WHEN count(*) = 5 AND max(a.accepted) = 0 AND max(a.attemptedAt) + interval '15 minutes' > timezone('UTC', clock_timestamp()) THEN max(a.attemptedAt) + interval '15 minutes' END FROM (SELECT accepted, attemptedAt FROM signing_attempts WHERE userName = p_user ORDER BY attemptedAt DESC, id DESC LIMIT 5) a); END $$;

-- Checks a signatory's password and records the attempt. outcome: accepted, wrong, locked (nothing checked), nopassword, notsignatory; locked_until: the lock in force after it.
CREATE OR REPLACE FUNCTION labrosa_check_signing_password(p_user VARCHAR, p_password TEXT, p_workstation VARCHAR, OUT outcome TEXT, OUT locked_until TIMESTAMP) LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$ DECLARE h TEXT; BEGIN IF NOT EXISTS (SELECT 1 FROM signatories WHERE userName = p_user AND active = 1) THEN outcome := 'notsignatory'; RETURN; END IF; locked_until := labrosa_signing_lock(p_user); IF locked_until IS NOT NULL THEN outcome := 'locked'; RETURN; END IF; SELECT passwordHash INTO h FROM signatory_passwords WHERE userName = p_user; IF h IS NULL THEN outcome := 'nopassword'; RETURN; END IF; outcome := CASE WHEN crypt(p_password, h) = h THEN 'accepted' ELSE 'wrong' END; INSERT INTO signing_attempts (userName, attemptedAt, accepted, workstation) VALUES (p_user, timezone('UTC', clock_timestamp()), CASE WHEN outcome = 'accepted' THEN 1 ELSE 0 END, p_workstation); locked_until := labrosa_signing_lock(p_user); END $$;

-- Sets a signatory's password; the current one must be given when one is set (checked and recorded as above). outcome as for the check, 'accepted' when the new password was stored.
CREATE OR REPLACE FUNCTION labrosa_set_signing_password(p_user VARCHAR, p_current TEXT, p_new TEXT, p_workstation VARCHAR, OUT outcome TEXT, OUT locked_until TIMESTAMP) LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$ DECLARE h TEXT; BEGIN IF NOT EXISTS (SELECT 1 FROM signatories WHERE userName = p_user AND active = 1) THEN outcome := 'notsignatory'; RETURN; END IF; IF p_new IS NULL OR length(p_new) = 0 THEN RAISE EXCEPTION 'an empty signing password is not allowed'; END IF; SELECT passwordHash INTO h FROM signatory_passwords WHERE userName = p_user; IF h IS NOT NULL THEN SELECT c.outcome, c.locked_until INTO outcome, locked_until FROM labrosa_check_signing_password(p_user, p_current, p_workstation) c; IF outcome <> 'accepted' THEN RETURN; END IF; END IF; INSERT INTO signatory_passwords (userName, passwordHash, setAt) VALUES (p_user, crypt(p_new, gen_salt('bf', 10)), timezone('UTC', clock_timestamp())) ON CONFLICT (userName) DO UPDATE SET passwordHash = EXCLUDED.passwordHash, setAt = EXCLUDED.setAt; outcome := 'accepted'; END $$;

-- Writes a validation for its signatory once the password is right, in the caller's transaction: the only way the program's role adds one. A wrong password, a lock or a signatory not active raises an error and writes nothing. Returns the new row's id.
CREATE OR REPLACE FUNCTION labrosa_validate_bulletin(p_user VARCHAR, p_password TEXT, p_workstation VARCHAR, p_request VARCHAR, p_day VARCHAR, p_result_ids TEXT, p_content_hash CHAR(64), p_fingerprint CHAR(64), p_signed_content TEXT, p_content_revision BIGINT, p_reference_revision BIGINT, p_validated_at TIMESTAMP, p_full_name VARCHAR, p_title VARCHAR) RETURNS BIGINT LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public AS $$ DECLARE h TEXT; u TIMESTAMP; new_id BIGINT; BEGIN IF NOT EXISTS (SELECT 1 FROM signatories WHERE userName = p_user AND active = 1 AND fullName = p_full_name AND title = p_title) THEN RAISE EXCEPTION 'no active signatory % named %', p_user, p_full_name USING ERRCODE = 'invalid_authorization_specification'; END IF; u := labrosa_signing_lock(p_user); IF u IS NOT NULL THEN RAISE EXCEPTION 'signing by % is locked until % UTC', p_user, u USING ERRCODE = 'invalid_authorization_specification'; END IF; SELECT passwordHash INTO h FROM signatory_passwords WHERE userName = p_user; IF h IS NULL OR crypt(p_password, h) <> h THEN RAISE EXCEPTION 'signing password of % refused', p_user USING ERRCODE = 'invalid_password'; END IF; INSERT INTO signing_attempts (userName, attemptedAt, accepted, workstation) VALUES (p_user, timezone('UTC', clock_timestamp()), 1, p_workstation); INSERT INTO bulletin_validation (RequestID, TransDay, resultIDs, contentHash, fingerprint, signedContent, contentRevision, referenceRevision, validatedAt, userName, workstation, fullName, title) VALUES (p_request, p_day, p_result_ids, p_content_hash, p_fingerprint, p_signed_content, p_content_revision, p_reference_revision, p_validated_at, p_user, p_workstation, p_full_name, p_title) RETURNING id INTO new_id; RETURN new_id; END $$;

-- Functions may be run by anyone unless taken back; the program's role is given them by name.
REVOKE ALL ON FUNCTION labrosa_signing_lock(VARCHAR) FROM PUBLIC;
REVOKE ALL ON FUNCTION labrosa_check_signing_password(VARCHAR, TEXT, VARCHAR) FROM PUBLIC;
REVOKE ALL ON FUNCTION labrosa_set_signing_password(VARCHAR, TEXT, TEXT, VARCHAR) FROM PUBLIC;
REVOKE ALL ON FUNCTION labrosa_validate_bulletin(VARCHAR, TEXT, VARCHAR, VARCHAR, VARCHAR, TEXT, CHAR, CHAR, TEXT, BIGINT, BIGINT, TIMESTAMP, VARCHAR, VARCHAR) FROM PUBLIC;

-- How many times the content of each bulletin (RequestID, TransDay) has changed, counted by
-- triggers on the result tables whoever writes them; the row ('', '') counts the changes of
-- what every bulletin shows beside its values (intervals, critical limits, names, units).
-- A missing row counts 0. The counters only ever grow. Texts without a length: the triggers
-- must never refuse another program's set, whatever identifier it carries.
CREATE TABLE IF NOT EXISTS CONTENT_REVISIONS (
    RequestID TEXT NOT NULL,
    TransDay TEXT NOT NULL,
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

-- What refuses: every change the triggers below are put on, with the table's own words.
CREATE OR REPLACE FUNCTION labrosa_kept_as_written() RETURNS trigger LANGUAGE plpgsql AS
$$ BEGIN RAISE EXCEPTION '%', TG_ARGV[0] USING ERRCODE = 'insufficient_privilege'; END $$;

CREATE OR REPLACE TRIGGER CORRECTION_JOURNAL_no_change BEFORE UPDATE OR DELETE ON CORRECTION_JOURNAL
FOR EACH ROW EXECUTE FUNCTION labrosa_kept_as_written('the correction journal is kept as written');

CREATE OR REPLACE TRIGGER CORRECTION_JOURNAL_no_truncate BEFORE TRUNCATE ON CORRECTION_JOURNAL
FOR EACH STATEMENT EXECUTE FUNCTION labrosa_kept_as_written('the correction journal is kept as written');

CREATE OR REPLACE TRIGGER BULLETIN_ARCHIVE_no_change BEFORE UPDATE OR DELETE ON BULLETIN_ARCHIVE
FOR EACH ROW EXECUTE FUNCTION labrosa_kept_as_written('the bulletin archive is kept as written');

CREATE OR REPLACE TRIGGER BULLETIN_ARCHIVE_no_truncate BEFORE TRUNCATE ON BULLETIN_ARCHIVE
FOR EACH STATEMENT EXECUTE FUNCTION labrosa_kept_as_written('the bulletin archive is kept as written');

CREATE OR REPLACE TRIGGER BULLETIN_VALIDATION_no_change BEFORE UPDATE OR DELETE ON BULLETIN_VALIDATION
FOR EACH ROW EXECUTE FUNCTION labrosa_kept_as_written('the validations are kept as written');

CREATE OR REPLACE TRIGGER BULLETIN_VALIDATION_no_truncate BEFORE TRUNCATE ON BULLETIN_VALIDATION
FOR EACH STATEMENT EXECUTE FUNCTION labrosa_kept_as_written('the validations are kept as written');

CREATE OR REPLACE TRIGGER CRITICAL_NOTIFICATIONS_no_change BEFORE UPDATE OR DELETE ON CRITICAL_NOTIFICATIONS
FOR EACH ROW EXECUTE FUNCTION labrosa_kept_as_written('the notifications are kept as written');

CREATE OR REPLACE TRIGGER CRITICAL_NOTIFICATIONS_no_truncate BEFORE TRUNCATE ON CRITICAL_NOTIFICATIONS
FOR EACH STATEMENT EXECUTE FUNCTION labrosa_kept_as_written('the notifications are kept as written');

-- A signatory who leaves is made inactive (an UPDATE); the row itself stays.
CREATE OR REPLACE TRIGGER SIGNATORIES_no_delete BEFORE DELETE ON SIGNATORIES
FOR EACH ROW EXECUTE FUNCTION labrosa_kept_as_written('a signatory is made inactive, never removed');

CREATE OR REPLACE TRIGGER SIGNATORIES_no_truncate BEFORE TRUNCATE ON SIGNATORIES
FOR EACH STATEMENT EXECUTE FUNCTION labrosa_kept_as_written('a signatory is made inactive, never removed');

-- Every message the receiver (labrosa-receiver) stored, as it came, so that a set's history can
-- show where it came from. controlId is the message's own id (HL7 MSH-10, ASTM H field 3): a
-- message sent again under the same id by the same analyser is stored once.
CREATE TABLE IF NOT EXISTS RECEIVED_MESSAGES (
    id BIGSERIAL PRIMARY KEY,
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
    id BIGSERIAL PRIMARY KEY,
    messageID BIGINT NOT NULL REFERENCES RECEIVED_MESSAGES (id),
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
    id BIGSERIAL PRIMARY KEY,
    receivedSetID BIGINT NOT NULL REFERENCES RECEIVED_SETS (id),
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
    messages BIGINT NOT NULL DEFAULT 0,
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
