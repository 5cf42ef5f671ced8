/* The demo print-quota database: the tables the quota service writes,
   protected with the service's table password, with a few users (Chinese
   names among them, one whose second byte is an ASCII letter), printers and
   the fallback setting. Run with: tarn --password KT62WB38 DIR < demo/quota_demo.sql */
CREATE TABLE "user" ("USER" CHAR(20), NAME CHAR(40), LIMIT_P INTEGER, USED_P INTEGER, HOWTODO INTEGER
  ENCRYPTED WITH 'KT62WB38');
CREATE NOCASE INDEX ByUser ON "user" ("USER");
CREATE TABLE printer (NAME CHAR(40), D_LIMIT INTEGER, TOTALP_LIMIT INTEGER, TOTALP_USE INTEGER, HOWTODO INTEGER
  ENCRYPTED WITH 'KT62WB38');
CREATE TABLE setting (L_SCOPE INTEGER, L_VALTYPE INTEGER, FIX_VAL INTEGER, HOWTODO INTEGER
  ENCRYPTED WITH 'KT62WB38');
INSERT INTO "user" VALUES ('ALICE', '', 500, 120, 1);
INSERT INTO "user" VALUES ('ALICE', 'Laser-2F', 200, 180, 3);
INSERT INTO "user" VALUES ('BOB', '', -1, 42, 4);
INSERT INTO "user" VALUES ('张伟', '', 300, 310, 2);
INSERT INTO "user" VALUES ('张伟', '彩色打印机', 50, 10, 1);
INSERT INTO "user" VALUES ('林並', '', 100, 99, 4);
INSERT INTO printer VALUES ('Laser-2F', 300, 10000, 2345, 1);
INSERT INTO printer VALUES ('彩色打印机', 50, -1, 800, 2);
INSERT INTO printer VALUES ('', 100, 5000, 100, 3);
INSERT INTO setting VALUES (1, 2, 150, 4);
