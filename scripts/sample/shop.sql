-- A small tea shop for trying Velquin: products, customers and orders.
CREATE DATABASE IF NOT EXISTS shop CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
USE shop;

CREATE TABLE 商品 (
  商品ID INT PRIMARY KEY,
  商品名 VARCHAR(60) NOT NULL,
  分類 VARCHAR(20) NOT NULL,
  価格 DECIMAL(10,2) NOT NULL,
  在庫 INT NOT NULL
);
INSERT INTO 商品
SELECT seq,
       CONCAT(ELT(1 + seq % 8, '緑茶', 'ほうじ茶', '抹茶', '煎茶', '玄米茶', '麦茶', '紅茶', '烏龍茶'),
              ' ', ELT(1 + seq % 5, '100g', '200g', 'ティーバッグ', '缶入り', '詰め合わせ')),
       ELT(1 + seq % 4, '日本茶', '健康茶', '紅茶', '中国茶'),
       300 + (seq * 37) % 4700 + (seq % 2) * 0.5,
       (seq * 13) % 500
FROM seq_1_to_200;

CREATE TABLE 顧客 (
  顧客ID INT PRIMARY KEY,
  氏名 VARCHAR(40) NOT NULL,
  都道府県 VARCHAR(10) NOT NULL,
  登録日 DATE NOT NULL,
  メモ VARCHAR(100) NULL
);
INSERT INTO 顧客
SELECT seq,
       CONCAT(ELT(1 + seq % 10, '佐藤', '鈴木', '高橋', '田中', '伊藤', '渡辺', '山本', '中村', '小林', '加藤'),
              ' ', ELT(1 + (seq DIV 10) % 10, '太郎', '花子', '一郎', '美咲', '健太', '陽子', '翔', '由美', '大輔', 'さくら')),
       ELT(1 + seq % 8, '東京都', '大阪府', '北海道', '福岡県', '愛知県', '京都府', '神奈川県', '沖縄県'),
       DATE '2020-01-01' + INTERVAL (seq * 7) % 1800 DAY,
       IF(seq % 7 = 0, '贈答用の包装を希望', NULL)
FROM seq_1_to_1000;

CREATE TABLE 注文 (
  注文ID INT PRIMARY KEY,
  顧客ID INT NOT NULL,
  商品ID INT NOT NULL,
  数量 INT NOT NULL,
  注文日時 DATETIME NOT NULL,
  INDEX (顧客ID),
  INDEX (商品ID)
);
INSERT INTO 注文
SELECT seq, 1 + (seq * 7919) % 1000, 1 + (seq * 31) % 200, 1 + seq % 5,
       TIMESTAMP '2024-01-01 09:00:00' + INTERVAL seq * 17 MINUTE
FROM seq_1_to_5000;
